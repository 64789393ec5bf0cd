#pragma once
// Reads what the panel under the tray icon tells of itself. Under X11: the
// foreground colour the tray manager publishes for its icons
// (_NET_SYSTEM_TRAY_COLORS, when it does), and the colour of the screen at
// the edges of the icon's slot. A StatusNotifierItem host (Wayland, or X11
// with such a host) tells neither: the facts stay empty. Main thread.

#include <QRect>

#include "desktop/status/PanelContrast.h"

class QImage;

namespace vantorel {

PanelFacts ReadPanelFacts(const QRect& iconGeometry);

// The panel's colour in a picture of the icon's slot: the most common of the
// colours at its corners (where an icon leaves the panel visible).
std::optional<PanelColour> BackgroundOfSlot(const QImage& slot);

}  // namespace vantorel
