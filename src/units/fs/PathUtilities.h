#pragma once
// Stateless questions and conversions on file-system paths. Paths are byte
// strings, as Linux has them; nothing here caches an answer, and none of these
// expands "~" except fileURL.

#include <optional>
#include <string>
#include <string_view>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

// --- Path text, without touching the file system ---------------------------

// The last component, trailing slashes ignored: "/a/b/" gives "b", "/" gives "/".
std::string lastPathComponent(std::string_view path);
// The path without its last component: "/a/b" gives "/a", "/a" gives "/",
// "a" gives "".
std::string stringByDeletingLastPathComponent(std::string_view path);
// The text after the last "." of the last component, or "" when there is none
// or the only "." starts the name (".profile" has no extension).
std::string pathExtension(std::string_view path);
// The last component without its extension (the text from its last "." on);
// the whole component when that would leave nothing. "/a/b/report.final.txt"
// gives "report.final".
std::string lastPathComponentWithoutExtension(std::string_view path);
// The same three, as views into `path` (no copies; for hot paths).
std::string_view lastPathComponentView(std::string_view path);
std::string_view parentPathView(std::string_view path);
std::string_view pathExtensionView(std::string_view path);
// `folder` + "/" + `name`, without doubling a slash.
std::string stringByAppendingPathComponent(std::string_view folder, std::string_view name);

// --- Questions to the file system ---------------------------------------

// True when something exists at the path, a final symbolic link followed (a
// dangling link gives false).
bool doesFileExist(const std::string& path);

// The absolute path the user means: a leading "~" or "~user" expanded, a
// relative path taken from the current folder. No other normalisation.
std::string fileURL(std::string_view path);

// A folder setting as a path to watch: absolute, or "~"/"~user" expanded.
// Nothing for an empty or relative setting (or an unknown user), which must
// never come to mean the current folder.
std::optional<std::string> folderSettingPath(std::string_view setting);

// True when both paths name one existing item (same device and inode, final
// links followed). False when `other` is absent or either item is missing; "~"
// is not expanded.
bool comparePaths(const std::string& path, const std::optional<std::string>& other);

// The name a file browser shows for the item: its last path component.
std::string displayName(std::string_view path);

// The file metadata the program asks for by key. The only key known is
// kMetadataKeyDateAdded: the item's birth time, else its status-change time.
// Nothing for a missing item or an unknown key.
inline constexpr const char* kMetadataKeyDateAdded = "kMDItemDateAdded";
std::optional<AbsoluteTime> metaData(const std::string& path, std::string_view key);

}  // namespace vantorel
