#include "desktop/notify/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>

#include <canberra.h>

#include "desktop/helpers/SystemHelpers.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr const char* kDefaultSoundName = "message-new-instant";
}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
  AskCapabilities();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected())
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(ActionInvoked(uint, QString)));
}

void DesktopNotifier::ActionInvoked(uint id, const QString& action) {
  // Other programs' notifications raise the same signal.
  if (action == QLatin1String("default") && deliveredIds_.contains(id) && activated_) activated_();
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::AskCapabilities() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    const QDBusPendingReply<QStringList> reply = *w;
    if (!reply.isError()) serverPlaysSounds_ = reply.value().contains(QStringLiteral("sound"));
    w->deleteLater();
  });
}

QVariantMap DesktopNotifier::HintsFor(const UserNotification& notification) {
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vantorel"));
  hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
  switch (notification.sound) {
    case UserNotification::Sound::None:
      hints.insert(QStringLiteral("suppress-sound"), true);
      break;
    case UserNotification::Sound::Named:
      if (const auto path = SoundPathForName(notification.soundName))
        hints.insert(QStringLiteral("sound-file"), QString::fromStdString(*path));
      else
        hints.insert(QStringLiteral("sound-name"), QString::fromStdString(notification.soundName));
      break;
    case UserNotification::Sound::Default:
      hints.insert(QStringLiteral("sound-name"), QLatin1String(kDefaultSoundName));
      break;
  }
  return hints;
}

void DesktopNotifier::PlaySound(const UserNotification& notification) {
  if (notification.sound == UserNotification::Sound::None) return;
  // One context for the run (main thread only): destroying it would cut the
  // sound short, as playing is asynchronous.
  static ca_context* context = [] {
    // Where nothing can be heard, the sound library's audio layer fills
    // the terminal with its errors at every sound: no context at all.
    if (!SoundOutputMayExist()) return static_cast<ca_context*>(nullptr);
    ca_context* made = nullptr;
    return ca_context_create(&made) == CA_SUCCESS ? made : nullptr;
  }();
  if (context == nullptr) return;
  // No sound device is no reason to say anything: the result is not looked at.
  if (notification.sound == UserNotification::Sound::Named) {
    if (const auto path = SoundPathForName(notification.soundName))
      ca_context_play(context, 0, CA_PROP_MEDIA_FILENAME, path->c_str(), nullptr);
    else
      ca_context_play(context, 0, CA_PROP_EVENT_ID, notification.soundName.c_str(), nullptr);
  } else {
    ca_context_play(context, 0, CA_PROP_EVENT_ID, kDefaultSoundName, nullptr);
  }
}

void DesktopNotifier::Deliver(const UserNotification& notification) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    Fallback(notification);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  UserNotification sent = notification;
  // A server that plays no sounds gets none to ignore; the face plays it.
  const bool playHere = serverPlaysSounds_.has_value() && !*serverPlaysSounds_;
  call << QStringLiteral("Vantorel") << 0u << QStringLiteral("vantorel") << QString::fromStdString(notification.title)
       << QString::fromStdString(notification.subtitle)
       << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << HintsFor(sent) << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, notification, playHere](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<uint> reply = *w;
            w->deleteLater();
            if (reply.isError()) {
              Fallback(notification);
              return;
            }
            deliveredIds_.insert(reply.value());
            if (playHere) PlaySound(notification);
            if (delivered_) delivered_(Route::Server);
          });
}

void DesktopNotifier::Fallback(const UserNotification& notification) {
  if (tray_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage(QString::fromStdString(notification.title), QString::fromStdString(notification.subtitle));
    PlaySound(notification);
    if (delivered_) delivered_(Route::TrayBalloon);
    return;
  }
  WriteDiagnosticLine(notification.title + ": " + notification.subtitle);
  if (delivered_) delivered_(Route::Line);
}

}  // namespace vantorel
