#pragma once
// The tray icon: owns the QSystemTrayIcon and the TStatusItemTrackingView
// that decides what it shows, renders the progress wheel into the icon at
// the screen's device pixel ratio, keeps the tooltip on the status line,
// and follows "StatusItemMode", "StatusItemIconSize", the network and the
// panel's appearance. Main thread only.

#include <QImage>
#include <QObject>
#include <QRect>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "desktop/status/StatusImages.h"
#include "desktop/status/PanelContrast.h"
#include "desktop/status/StatusItemTrackingView.h"
#include "units/runtime/TObject.h"

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace vantorel {

class TICloudTracker;

// Posted on the default notification center when the panel's appearance
// (light or dark) changes.
inline constexpr const char* kInterfaceThemeChangedNotification = "AppleInterfaceThemeChangedNotification";

class StatusItem : public QObject {
public:
  // `isInterfaceStyleDark`: whether the panel needs the light artwork now
  // (the face decides from Panel() and the user's choice).
  StatusItem(std::function<bool()> isInterfaceStyleDark, QObject* parent = nullptr);
  ~StatusItem() override;

  // Shows the icon in the tray (when there is one), then looks at the panel
  // around it once the tray has placed it.
  void Show();
  // What the panel told of itself when last looked at.
  const PanelFacts& Panel() const { return panel_; }
  // Looks at the panel around the icon again; the artwork follows a change.
  void ProbePanel();
  void Hide();
  void SetContextMenu(QMenu* menu);
  QSystemTrayIcon* Tray() const { return tray_; }
  // A left click (or the tray's activation).
  void SetClickAction(std::function<void()> action) { clicked_ = std::move(action); }
  // Where the popover goes: the icon's geometry when the tray reports one,
  // else a 1×1 rectangle at the pointer's position at the last click (or
  // now, before any click). Global coordinates.
  QRect ClickAnchor() const;

  // The tracker's state changed; `shutdownHeld` as TAppCommands says it (the
  // tooltip's uploads line).
  void TrackerStatusChanged(TICloudTracker& tracker, std::optional<bool> shutdownHeld = std::nullopt);
  void SetHighlighted(bool highlighted);
  // "StatusItemIconSize" changed: the images for the new size.
  void IconSizeChanged();
  void ModeChanged();
  void NetworkReachabilityChanged();
  void InterfaceThemeChanged();

  // What the tray shows now (rendered on demand; for tests and the popover).
  QImage Render() const;
  QImage HandedOverImage() const { return handedOver_; }
  QString ToolTip() const;
  int IconSize() const { return size_; }
  TStatusItemTrackingView& View() { return *view_; }

private:
  class Observer;
  void Refresh();
  void HandOver();

  std::function<bool()> isInterfaceStyleDark_;
  PanelFacts panel_;
  std::function<void()> clicked_;
  QSystemTrayIcon* tray_;
  QTimer* throttle_;
  int size_;
  qreal devicePixelRatio_;
  StatusImageSet images_;
  std::unique_ptr<TStatusItemTrackingView> view_;
  QImage handedOver_;
  QRect clickAnchor_;
  std::chrono::steady_clock::time_point lastHandOver_{};
  // The tracker's last word on whether it can learn anything (its sync
  // client is there); the network is asked when drawing.
  bool trackerReachable_ = true;
  TRef<Observer> observer_;
  std::vector<std::uint64_t> preferenceObservers_;
};

}  // namespace vantorel
