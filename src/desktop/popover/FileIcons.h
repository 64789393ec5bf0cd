#pragma once
// The icons of the popover's rows: a file's icon from the desktop's icon
// theme by its MIME type (named from its extension: a file still being
// written is never opened to guess), the generic file image for a file that
// has gone, and the check mark of a finished transfer. Main thread only;
// icons are made once per MIME type.

#include <QIcon>

#include <string>

namespace vantorel {

// Makes the desktop's icon themes findable in any session (the XDG icon
// folders searched, a complete theme behind the current one), whatever
// asked for an icon first. Called once the application exists; the icon
// functions below call it too.
void PrepareIconThemes();

QIcon FileIcon(const std::string& path);
// An icon of the desktop's theme by name (a complete theme stands behind
// the current one); null when none has it.
QIcon ThemeIcon(const QString& name);
// The shared generic file image.
QIcon UnknownFileImage();
// A finished transfer.
QIcon CheckImage();

}  // namespace vantorel
