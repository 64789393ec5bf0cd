#include "desktop/status/StatusItem.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "desktop/status/PanelProbe.h"
#include "desktop/status/ProgressWheelPainter.h"
#include "engine/Tracker.h"
#include "shell/StatusLine.h"
#include "units/net/NetworkReachability.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/TNotificationCenter.h"

namespace vantorel {

namespace {
// Tray hosts re-read the whole pixmap at every change: a few a second at most.
constexpr std::chrono::milliseconds kHandOverInterval{250};
// The wheel's own square inside the icon.
constexpr qreal kWheelSize = 16;

qreal ScreenPixelRatio() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->devicePixelRatio() : 1.0;
}
}  // namespace

// Receives the program's notifications (it must be one of its objects).
class StatusItem::Observer : public TObject {
public:
  explicit Observer(StatusItem* owner) : owner_(owner) {}
  void Network(TNotification*) { owner_->NetworkReachabilityChanged(); }
  void Theme(TNotification*) { owner_->InterfaceThemeChanged(); }

private:
  StatusItem* owner_;
};

StatusItem::StatusItem(std::function<bool()> isInterfaceStyleDark, QObject* parent)
    : QObject(parent),
      isInterfaceStyleDark_(std::move(isInterfaceStyleDark)),
      tray_(new QSystemTrayIcon(this)),
      throttle_(new QTimer(this)),
      size_(UsableStatusItemIconSize(NSPrefs())),
      devicePixelRatio_(ScreenPixelRatio()) {
  images_ = ReloadStatusItemImages(size_, devicePixelRatio_);
  view_ = std::make_unique<TStatusItemTrackingView>(NSPrefs().IntegerForKey(kPreferenceKeyStatusItemMode),
                                                    isInterfaceStyleDark_, Availability(images_));
  throttle_->setSingleShot(true);
  connect(throttle_, &QTimer::timeout, this, [this] { HandOver(); });
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::MiddleClick) return;
    clickAnchor_ = tray_->geometry().isValid() ? tray_->geometry() : QRect(QCursor::pos(), QSize(1, 1));
    if (clicked_) clicked_();
  });
  preferenceObservers_.push_back(
      NSPrefs().AddObserver(kPreferenceKeyStatusItemIconSize, [this](const std::string&) { IconSizeChanged(); }));
  preferenceObservers_.push_back(
      NSPrefs().AddObserver(kPreferenceKeyStatusItemMode, [this](const std::string&) { ModeChanged(); }));
  preferenceObservers_.push_back(NSPrefs().AddObserver(kPreferenceKeyStatusItemAppearance,
                                                       [this](const std::string&) { InterfaceThemeChanged(); }));
  observer_ = MakeRef<Observer>(this);
  TNotificationCenter* center = TNotificationCenter::DefaultCenter();
  center->ObserveNotification(observer_.get(), SCNetworkReachabilityChangedNotification, &Observer::Network);
  center->ObserveNotification(observer_.get(), kInterfaceThemeChangedNotification, &Observer::Theme);
  tray_->setToolTip(QStringLiteral("Vantorel"));
  // What the tray publishes can be read before the icon has a place.
  panel_ = ReadPanelFacts(QRect());
  HandOver();
}

StatusItem::~StatusItem() {
  TNotificationCenter::DefaultCenter()->RemoveEveryObserver(observer_.get());
  for (const auto id : preferenceObservers_) NSPrefs().RemoveObserver(id);
}

void StatusItem::Show() {
  tray_->show();
  // A tray places its icons a moment after they are shown; some only once
  // the panel has settled.
  for (const int delay : {1500, 5000}) QTimer::singleShot(delay, this, [this] { ProbePanel(); });
}

void StatusItem::ProbePanel() {
  const PanelFacts seen = ReadPanelFacts(tray_->geometry());
  if (seen == panel_) return;
  panel_ = seen;
  // The next launch starts from what this look found.
  if (seen.trayForeground || seen.background)
    RememberLightGlyph(NSPrefs(), UseLightGlyph(StatusItemAppearance::Automatic, seen));
  InterfaceThemeChanged();
}

QRect StatusItem::ClickAnchor() const {
  if (clickAnchor_.isValid()) return clickAnchor_;
  return tray_->geometry().isValid() ? tray_->geometry() : QRect(QCursor::pos(), QSize(1, 1));
}

void StatusItem::Hide() { tray_->hide(); }

void StatusItem::SetContextMenu(QMenu* menu) { tray_->setContextMenu(menu); }

void StatusItem::TrackerStatusChanged(TICloudTracker& tracker, std::optional<bool> shutdownHeld) {
  const TrackerSnapshot s = tracker.Snapshot();
  trackerReachable_ = s.reachable;
  view_->SetSyncingPaused(s.syncingPaused);
  view_->TrackerStatusChanged(s.StatusCode(), s.inProgress, s.total, s.completed, s.downloadsInProgress,
                              s.inProgressDone);
  tray_->setToolTip(QString::fromStdString(StatusToolTipText(s, CurrentAbsoluteTime(), shutdownHeld)));
  Refresh();
}

void StatusItem::SetHighlighted(bool highlighted) {
  view_->SetHighlighted(highlighted);
  Refresh();
}

void StatusItem::IconSizeChanged() {
  size_ = UsableStatusItemIconSize(NSPrefs());
  devicePixelRatio_ = ScreenPixelRatio();
  images_ = ReloadStatusItemImages(size_, devicePixelRatio_);
  view_->SetImagesAvailable(Availability(images_));
  Refresh();
}

void StatusItem::ModeChanged() {
  view_->ModeChanged(NSPrefs().IntegerForKey(kPreferenceKeyStatusItemMode));
  Refresh();
}

void StatusItem::NetworkReachabilityChanged() {
  view_->NetworkReachabilityChanged();
  Refresh();
}

void StatusItem::InterfaceThemeChanged() {
  view_->InterfaceThemeChanged();
  Refresh();
}

QString StatusItem::ToolTip() const { return tray_->toolTip(); }

QImage StatusItem::Render() const {
  const auto pixels = static_cast<int>(std::lround(size_ * devicePixelRatio_));
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(devicePixelRatio_);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  const QRectF bounds(0, 0, size_, size_);
  const QRectF wheel((size_ - kWheelSize) / 2, (size_ - kWheelSize) / 2, kWheelSize, kWheelSize);
  const ProgressWheelState& state = view_->Wheel();
  QImage alternate;
  if (state.HasAlternateImage()) alternate = images_[static_cast<std::size_t>(state.AlternateImage())];
  // Light artwork at full strength; otherwise dimmed a little, and much more
  // while the network, or the sync client the tracker asks, is away.
  const bool reachable = GetNetworkReachability() != 0 && trackerReachable_;
  // Highlighted (the popover is open): full strength, the only highlight a
  // tray that draws none behind its icons shows.
  const qreal opacity = view_->IsInterfaceLight() || view_->IsHighlighted() ? 1.0 : reachable ? 0.75 : 0.2;
  PaintProgressWheel(painter, bounds, wheel, state, alternate, opacity);
  return image;
}

void StatusItem::Refresh() {
  if (throttle_->isActive()) return;  // a hand-over is due already and will render then
  const auto since = std::chrono::steady_clock::now() - lastHandOver_;
  if (since >= kHandOverInterval) {
    HandOver();
  } else {
    throttle_->start(std::chrono::duration_cast<std::chrono::milliseconds>(kHandOverInterval - since));
  }
}

void StatusItem::HandOver() {
  QImage image = Render();
  if (image == handedOver_) return;  // the tray already shows exactly this
  handedOver_ = image;
  lastHandOver_ = std::chrono::steady_clock::now();
  tray_->setIcon(QIcon(QPixmap::fromImage(image)));
}

}  // namespace vantorel
