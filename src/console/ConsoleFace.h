#pragma once
// The console face: the application on a terminal. It prints what the tray
// would show (the status line at every change, notifications, alerts, the
// network coming and going) and puts no questions to anyone.

#include <cstdint>
#include <optional>
#include <string>

#include "shell/AppFace.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TNotification;

class ConsoleFace final : public TAppFace, public TObject {
public:
  // `folder`: the folder to watch given on the command line, if any.
  explicit ConsoleFace(std::optional<std::string> folder);

  // Starts printing the network's comings and goings.
  void ObserveNetwork();

  std::string ToolkitVersionLine() override;
  bool IsInteractive() override { return false; }
  WelcomeChoice RunWelcome(const WelcomeFolderSource& clientFolders) override;
  std::optional<std::string> RunFolderPanel(const FolderPanel& panel) override;
  int RunAlert(const Alert& alert) override;
  void LoadStatusItem(int) override {}
  void SetStatusItemLength(int) override {}
  void TrackerStatusChanged(TICloudTracker* tracker) override;
  void DeliverNotification(const UserNotification& notification) override;
  // A terminal session starts nothing at login.
  void OpenAtLogin(bool) override {}
  // Asks the main loop to end through the quit signal the terminal would send.
  void RequestQuit(int exitCode) override;
  void ScannerOpened(TScanner&) override {}
  void ScannerPathChanged(TScanner&, const std::string&) override {}
  void ScannerResultsChanged(TScanner& scanner, const std::string& results) override;
  void ScannerClosed(TScanner&) override {}

  void NetworkChanged(TNotification* notification);

  ~ConsoleFace() override;

private:
  // Prints the network's state if it differs from the last one printed.
  void TellNetwork();

  std::optional<std::string> folder_;
  // Main thread only. A change is told once the state has held for a
  // moment: a flapping link would otherwise print ten lines a second.
  bool networkReachable_ = true;
  std::optional<bool> networkTold_;
  std::uint64_t networkTimer_ = 0;
  std::string lastStatusLine_;
};

}  // namespace vantorel
