#pragma once
// The desktop face: the application in the system tray. It owns the tray
// icon, its menu and the notifier, and answers the controller's questions
// with the desktop's own dialogs. The welcome, preferences, scanner and
// About windows and the popover come later; until then the first run keeps
// the folder given with --folder, and the scanner says its results on
// standard output. Main thread only.

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/AppFace.h"

class QMenu;

namespace vantorel {

class Appearance;
class DesktopNotifier;
class QtMainLoop;
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
  WelcomeChoice RunWelcome() override;
  std::optional<std::string> RunFolderPanel(const FolderPanel& panel) override;
  int RunAlert(const Alert& alert) override;
  void LoadStatusItem(int length) override;
  void SetStatusItemLength(int length) override;
  void TrackerStatusChanged(TICloudTracker* tracker) override;
  void DeliverNotification(const UserNotification& notification) override;
  void TogglePopover() override;
  void OpenAtLogin(bool open) override;
  void RequestQuit(int exitCode) override;
  void ScannerOpened(TScanner&) override {}
  void ScannerPathChanged(TScanner&, const std::string&) override {}
  void ScannerResultsChanged(TScanner& scanner, const std::string& results) override;
  void ScannerClosed(TScanner&) override {}

  StatusItem* GetStatusItem() const { return statusItem_; }

private:
  void BuildMenu();

  QtMainLoop& loop_;
  std::optional<std::string> folder_;
  TAppCommands* commands_ = nullptr;
  Appearance* appearance_;
  DesktopNotifier* notifier_;
  StatusItem* statusItem_ = nullptr;
  std::unique_ptr<QMenu> menu_;
  int exitCode_ = 0;
};

}  // namespace vantorel
