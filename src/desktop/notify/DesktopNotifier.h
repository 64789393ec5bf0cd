#pragma once
// Delivers the application's notifications to the desktop's notification
// server over D-Bus (org.freedesktop.Notifications), never blocking the
// main thread: every call is asynchronous. The sound goes with the
// notification as hints; a server that cannot play sounds gets none and the
// face plays it itself. No server: the tray's own balloon; no tray either:
// one line.

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

#include "shell/AppFace.h"

class QSystemTrayIcon;

namespace vantorel {

class DesktopNotifier : public QObject {
  Q_OBJECT

public:
  explicit DesktopNotifier(QObject* parent = nullptr);
  ~DesktopNotifier() override;

  // Where the balloon goes when there is no notification server.
  void SetTrayIcon(QSystemTrayIcon* tray) { tray_ = tray; }

  void Deliver(const UserNotification& notification);

  // A click on one of this run's notifications (its default action).
  void SetActivationAction(std::function<void()> action) { activated_ = std::move(action); }

  // The hints a notification carries for its sound (and the rest).
  static QVariantMap HintsFor(const UserNotification& notification);

  // Plays a sound through the sound theme: a file path, or a theme name.
  // Also the preview for the preferences window.
  static void PlaySound(const UserNotification& notification);

  // Called after each delivery with how it went (tests).
  enum class Route { Server, TrayBalloon, Line };
  void SetDeliveredHook(std::function<void(Route)> hook) { delivered_ = std::move(hook); }

private slots:
  void ActionInvoked(uint id, const QString& action);

private:
  void AskCapabilities();
  void Fallback(const UserNotification& notification);

  QSystemTrayIcon* tray_ = nullptr;
  // Nothing until the server answered; then whether it plays sounds.
  std::optional<bool> serverPlaysSounds_;
  std::function<void(Route)> delivered_;
  std::function<void()> activated_;
  // The server's ids of the notifications this run delivered.
  QSet<uint> deliveredIds_;
};

}  // namespace vantorel
