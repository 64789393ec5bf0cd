// Notifications as the desktop's server receives them: a fake server on the
// private session bus this test runs in (dbus-run-session) records them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <optional>

#include "desktop/notify/DesktopNotifier.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"

namespace vantorel {

// The notification server's side of the conversation.
class FakeNotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  struct Call {
    QString appName, icon, summary, body;
    QStringList actions;
    QVariantMap hints;
  };
  QStringList capabilities{QStringLiteral("body"), QStringLiteral("sound")};
  std::vector<Call> calls;

public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int) {
    calls.push_back({appName, icon, summary, body, actions, hints});
    return static_cast<uint>(calls.size());
  }
};

namespace {

using test::CaptureDiagnostics;

bool ServeUntil(const std::function<bool()>& done, int milliseconds = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < milliseconds) {
    QEventLoop wait;
    QTimer::singleShot(10, &wait, &QEventLoop::quit);
    wait.exec();
  }
  return done();
}

UserNotification Made(UserNotification::Sound sound, const std::string& name = {}) {
  UserNotification n;
  n.title = "iCloud Drive";
  n.subtitle = "3 transfers complete.";
  n.sound = sound;
  n.soundName = name;
  return n;
}

TEST(Notifier, TheSoundTravelsAsHints) {
  test::TempDir dir;
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  const std::string chime = dir.Write("sounds/Chime.oga", "x");
  using Sound = UserNotification::Sound;
  const QVariantMap byDefault = DesktopNotifier::HintsFor(Made(Sound::Default));
  EXPECT_EQ(byDefault.value(QStringLiteral("sound-name")).toString(), QStringLiteral("message-new-instant"));
  EXPECT_EQ(byDefault.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("vantorel"));
  EXPECT_EQ(byDefault.value(QStringLiteral("category")).toString(), QStringLiteral("transfer.complete"));
  const QVariantMap none = DesktopNotifier::HintsFor(Made(Sound::None));
  EXPECT_TRUE(none.value(QStringLiteral("suppress-sound")).toBool());
  EXPECT_FALSE(none.contains(QStringLiteral("sound-name")));
  const QVariantMap named = DesktopNotifier::HintsFor(Made(Sound::Named, "Chime"));
  EXPECT_EQ(named.value(QStringLiteral("sound-file")).toString().toStdString(), chime);
  const QVariantMap unknown = DesktopNotifier::HintsFor(Made(Sound::Named, "Not There"));
  EXPECT_EQ(unknown.value(QStringLiteral("sound-name")).toString(), QStringLiteral("Not There"));
  if (saved) ::setenv("XDG_DATA_HOME", keep.c_str(), 1);
  else ::unsetenv("XDG_DATA_HOME");
}

TEST(Notifier, TheServerReceivesTitleBodyAndHints) {
  if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  FakeNotificationServer server;
  QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
  ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                       QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
  DesktopNotifier notifier;
  std::optional<DesktopNotifier::Route> route;
  notifier.SetDeliveredHook([&](DesktopNotifier::Route r) { route = r; });
  notifier.Deliver(Made(UserNotification::Sound::None));
  ASSERT_TRUE(ServeUntil([&] { return route.has_value(); }));
  EXPECT_EQ(*route, DesktopNotifier::Route::Server);
  ASSERT_EQ(server.calls.size(), 1u);
  EXPECT_EQ(server.calls[0].appName, QStringLiteral("Vantorel"));
  EXPECT_EQ(server.calls[0].summary, QStringLiteral("iCloud Drive"));
  EXPECT_EQ(server.calls[0].body, QStringLiteral("3 transfers complete."));
  EXPECT_TRUE(server.calls[0].hints.value(QStringLiteral("suppress-sound")).toBool());
  EXPECT_EQ(server.calls[0].actions.value(0), QStringLiteral("default"));

  // A click on it (its default action) reaches the face; a click on another
  // program's notification, or another action, does not.
  int activations = 0;
  notifier.SetActivationAction([&] { ++activations; });
  const auto invoke = [&serverBus](uint id, const QString& action) {
    QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"),
                                                     QStringLiteral("ActionInvoked"));
    message << id << action;
    serverBus.send(message);
  };
  invoke(99, QStringLiteral("default"));
  invoke(1, QStringLiteral("Open"));
  invoke(1, QStringLiteral("default"));
  ASSERT_TRUE(ServeUntil([&] { return activations > 0; }));
  ServeUntil([] { return false; }, 100);
  EXPECT_EQ(activations, 1);

  // The server goes away: the notification still reaches the user.
  serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
  route.reset();
  CaptureDiagnostics diagnostics;
  notifier.Deliver(Made(UserNotification::Sound::None));
  ASSERT_TRUE(ServeUntil([&] { return route.has_value(); }));
  EXPECT_EQ(*route, DesktopNotifier::Route::Line);  // no tray offscreen either: one line
  EXPECT_EQ(diagnostics.Text(), "iCloud Drive: 3 transfers complete.\n");
  QDBusConnection::disconnectFromBus(QStringLiteral("server"));
}

}  // namespace
}  // namespace vantorel


#include "NotifierTest.moc"
