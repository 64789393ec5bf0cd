#include "desktop/status/PanelProbe.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace vantorel {

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const std::string& name) {
  const auto cookie = xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.c_str());
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(connection, cookie, nullptr),
                                                                       &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The tray manager's published foreground colour: twelve 16-bit channels
// (foreground, error, warning, success), in 32-bit items.
std::optional<PanelColour> TrayForeground(xcb_connection_t* connection, int screen) {
  const xcb_atom_t selection = Atom(connection, "_NET_SYSTEM_TRAY_S" + std::to_string(screen));
  const xcb_atom_t colours = Atom(connection, "_NET_SYSTEM_TRAY_COLORS");
  if (selection == XCB_ATOM_NONE || colours == XCB_ATOM_NONE) return std::nullopt;
  std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr), &std::free);
  if (!owner || owner->owner == XCB_WINDOW_NONE) return std::nullopt;
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
      xcb_get_property_reply(connection,
                             xcb_get_property(connection, 0, owner->owner, colours, XCB_ATOM_CARDINAL, 0, 12),
                             nullptr),
      &std::free);
  if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 12) return std::nullopt;
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
  return PanelColour{values[0] / 65535.0, values[1] / 65535.0, values[2] / 65535.0};
}

}  // namespace

std::optional<PanelColour> BackgroundOfSlot(const QImage& slot) {
  if (slot.width() < 2 || slot.height() < 2) return std::nullopt;
  const int right = slot.width() - 1, bottom = slot.height() - 1;
  std::vector<QRgb> samples;
  for (const QPoint point : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom), QPoint(1, 1),
                             QPoint(right - 1, 1), QPoint(1, bottom - 1), QPoint(right - 1, bottom - 1)})
    samples.push_back(slot.pixel(point) | 0xff000000u);
  // The most common colour: an icon reaching into one corner is outvoted.
  QRgb best = samples.front();
  long bestCount = 0;
  for (const QRgb sample : samples) {
    const long count = std::count(samples.begin(), samples.end(), sample);
    if (count > bestCount) best = sample, bestCount = count;
  }
  return PanelColour{qRed(best) / 255.0, qGreen(best) / 255.0, qBlue(best) / 255.0};
}

PanelFacts ReadPanelFacts(const QRect& iconGeometry) {
  PanelFacts facts;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return facts;  // no X11: nothing is told
  facts.trayForeground = TrayForeground(x11->connection(), 0);
  if (!iconGeometry.isValid()) return facts;
  QScreen* screen = QGuiApplication::screenAt(iconGeometry.center());
  if (screen == nullptr) return facts;
  const QRect local = iconGeometry.translated(-screen->geometry().topLeft());
  const QImage slot = screen->grabWindow(0, local.x(), local.y(), local.width(), local.height()).toImage();
  facts.background = BackgroundOfSlot(slot);
  return facts;
}

}  // namespace vantorel
