#include "desktop/helpers/Appearance.h"

#include <QApplication>
#include <QPalette>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <optional>

#include "desktop/helpers/SystemHelpers.h"
#include "desktop/popover/PopoverWindow.h"
#include "desktop/status/StatusItem.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/TNotificationCenter.h"

namespace vantorel {

namespace {
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");
}  // namespace

namespace {
// Main thread. The platform's palette is taken before the first change, so
// that light gives it back whichever Appearance applied dark.
bool gCurrentIsDark = false;
std::optional<QPalette> gPlatformPalette;
}  // namespace

bool Appearance::CurrentIsDark() { return gCurrentIsDark; }

Appearance::Appearance(QObject* parent) : QObject(parent) {
  preferenceObserver_ = NSPrefs().AddObserver("AppleInterfaceStyle", [this](const std::string&) { Changed(); });
  Apply();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(kPortal, kPortalPath, kSettings, QStringLiteral("SettingChanged"), this,
              SLOT(SettingChanged(QString, QString, QDBusVariant)));
  QDBusMessage read = QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, QStringLiteral("Read"));
  read << kAppearance << kColorScheme;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<QVariant> reply = *w;
    if (!reply.isError()) SetPortalScheme(reply.value());
    w->deleteLater();
  });
}

Appearance::~Appearance() { NSPrefs().RemoveObserver(preferenceObserver_); }

bool Appearance::IsDark() const {
  if (const auto stored = StoredInterfaceStyleIsDark(NSPrefs())) return *stored;
  return portalDark_.value_or(false);
}

void Appearance::SettingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
  if (group == kAppearance && key == kColorScheme) SetPortalScheme(value.variant());
}

void Appearance::SetPortalScheme(const QVariant& value) {
  QVariant scheme = value;
  // Older portals wrap the value once more.
  while (scheme.canConvert<QDBusVariant>() && scheme.userType() == qMetaTypeId<QDBusVariant>())
    scheme = scheme.value<QDBusVariant>().variant();
  const bool dark = scheme.toUInt() == 1;
  if (portalDark_ == dark) return;
  portalDark_ = dark;
  Changed();
}

void Appearance::Changed() {
  Apply();
  TNotificationCenter::DefaultCenter()->PostNotification(kInterfaceThemeChangedNotification);
}

void Appearance::Apply() {
  const bool dark = IsDark();
  if (!gPlatformPalette) gPlatformPalette = QApplication::palette();
  if (dark == gCurrentIsDark) return;
  gCurrentIsDark = dark;
  QApplication::setPalette(dark ? PopoverWindow::DarkPalette() : *gPlatformPalette);
}

}  // namespace vantorel
