#pragma once
// Small helpers the windows and the popover share.

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <string>
#include <vector>

#include "shell/AppFace.h"

class QAbstractItemView;
class QWidget;

namespace vantorel {

class StatusItem;
class TStatusItemTrackingView;

// An alert with the message, an empty informative text and one button, "Ok";
// returned, not shown.
Alert alertWithMessage(const std::string& message);

// The selected rows of a list or table, ascending, each once.
std::vector<std::int32_t> selectedRows(const QAbstractItemView& view);

// A secondary line: the palette's grey, the font scaled by `fontScale`
// (never below 6 points).
void setSecondaryText(QWidget& widget, qreal fontScale = 1.0);

// A tooltip that shows `text` as it is. A tooltip is taken for markup when
// it looks like some, and a file name, path or server's text may
// ("<h1>big</h1>.txt"): escaped inside a paragraph of its own it is drawn
// letter for letter.
QString PlainToolTip(const QString& text);

// Marks the whole widget as needing to be painted again.
void setNeedsDisplay(QWidget& widget);

// The tray icon's view: what decides the icon and its highlight.
TStatusItemTrackingView& trackingView(StatusItem& statusItem);

}  // namespace vantorel
