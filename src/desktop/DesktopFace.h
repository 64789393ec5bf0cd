#pragma once
// The desktop face: the application in the system tray. It owns the tray
// icon, its menu and the notifier, and answers the controller's questions
// with its windows and the desktop's own dialogs; a click on the icon opens
// the popover (with no tray, an ordinary window at launch). Main thread only.

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "shell/AppFace.h"

class QMenu;
class QTimer;

namespace vantorel {

class Appearance;
class DesktopNotifier;
class QtMainLoop;
class ScannerWindow;
class StatusItem;
class TAppCommands;

class DesktopFace final : public QObject, public TAppFace {
public:
  DesktopFace(QtMainLoop& loop, std::optional<std::string> folder);
  ~DesktopFace() override;

  void SetCommands(TAppCommands* commands) override { commands_ = commands; }
  // The exit status a Quit asked for in a panel.
  int ExitCode() const { return exitCode_; }

  std::string ToolkitVersionLine() override;
  bool IsInteractive() override { return true; }
  bool HasWindows() const override { return true; }
  bool RaiseModalWindow() override;
  WelcomeChoice RunWelcome(const WelcomeFolderSource& clientFolders) override;
  std::optional<std::string> RunFolderPanel(const FolderPanel& panel) override;
  int RunAlert(const Alert& alert) override;
  void LoadStatusItem(int length) override;
  void SetStatusItemLength(int length) override;
  void TrackerStatusChanged(TICloudTracker* tracker) override;
  void DeliverNotification(const UserNotification& notification) override;
  void TogglePopover(TICloudTracker& tracker) override;
  // Opens the popover unless it is shown (a notification was clicked, or
  // there is no tray to click).
  void OpenPopover(TICloudTracker& tracker);
  void ShowPreferences() override;
  void ShowUpdatePortal() override;
  void OpenAtLogin(bool open) override;
  void RequestQuit(int exitCode) override;
  void ScannerOpened(TScanner& scanner) override;
  void ScannerPathChanged(TScanner& scanner, const std::string& path) override;
  void ScannerResultsChanged(TScanner& scanner, const std::string& results) override;
  void ScannerClosed(TScanner& scanner) override;

  StatusItem* GetStatusItem() const { return statusItem_; }

private:
  void BuildMenu();
  void ShowPopover(TICloudTracker& tracker);
  // Sets the one timer that refreshes the tooltip and an open popover when
  // the status line's relative date would read otherwise; none while the
  // line has no such date (nothing wakes an idle face).
  void ScheduleStatusLineRefresh();

  QtMainLoop& loop_;
  std::optional<std::string> folder_;
  TAppCommands* commands_ = nullptr;
  Appearance* appearance_;
  DesktopNotifier* notifier_;
  StatusItem* statusItem_ = nullptr;
  std::unique_ptr<QMenu> menu_;
  // One window per running scan (gone when its user closed it).
  std::map<TScanner*, QPointer<ScannerWindow>> scannerWindows_;
  // The tracker the popover shows (known from its first opening).
  TICloudTracker* tracker_ = nullptr;
  QTimer* statusLineRefresh_;
  int exitCode_ = 0;
};

}  // namespace vantorel
