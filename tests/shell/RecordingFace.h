#pragma once
// A face that remembers what the controller asked of it and answers panels
// and alerts from a script.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "shell/AppFace.h"
#include "shell/Scanner.h"

namespace vantorel::test {

class RecordingFace : public TAppFace {
public:
  std::string ToolkitVersionLine() override { return "Toolkit version: test"; }
  bool IsInteractive() override { return interactive; }
  void SetCommands(TAppCommands* c) override { commands = c; }
  WelcomeChoice RunWelcome(const WelcomeFolderSource& clientFolders) override {
    ++welcomes;
    if (clientFolders) welcomeFolders = clientFolders();
    return welcomeChoice;
  }
  void TogglePopover(TICloudTracker&) override { ++popoverToggles; }
  void ShowPreferences() override { ++preferencesShown; }
  void ShowUpdatePortal() override { ++portalsShown; }
  std::optional<std::string> RunFolderPanel(const FolderPanel& panel) override {
    panels.push_back(panel);
    if (folderAnswers.empty()) return std::nullopt;
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
  }
  int RunAlert(const Alert& alert) override {
    alerts.push_back(alert.message);
    if (alertAnswers.empty()) return 0;
    const int answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
  }
  void LoadStatusItem(int length) override { statusItemLength = length; }
  void SetStatusItemLength(int length) override { statusItemLength = length; }
  void TrackerStatusChanged(TICloudTracker*) override { ++statusChanges; }
  void DeliverNotification(const UserNotification& n) override { notifications.push_back(n); }
  void OpenAtLogin(bool open) override { loginItem = open; }
  void RequestQuit(int exitCode) override { quitRequested = exitCode; }
  void ScannerOpened(TScanner& s) override {
    ++scannersOpened;
    lastScanner = &s;
    if (cancelScans) s.Cancel();  // the window's Cancel, at once
  }
  void ScannerPathChanged(TScanner&, const std::string& path) override { scannerPaths.push_back(path); }
  void ScannerResultsChanged(TScanner&, const std::string& results) override { scannerResults.push_back(results); }
  void ScannerClosed(TScanner&) override { ++scannersClosed; }

  bool interactive = true;
  bool cancelScans = false;
  TAppCommands* commands = nullptr;
  WelcomeChoice welcomeChoice;
  int welcomes = 0;
  std::vector<WelcomeFolder> welcomeFolders;  // what the last welcome offered
  int popoverToggles = 0, preferencesShown = 0, portalsShown = 0;
  TScanner* lastScanner = nullptr;
  std::vector<FolderPanel> panels;
  std::deque<std::optional<std::string>> folderAnswers;
  std::vector<std::string> alerts;
  std::deque<int> alertAnswers;
  int statusItemLength = 0;
  int statusChanges = 0;
  std::vector<UserNotification> notifications;
  std::optional<bool> loginItem;
  std::optional<int> quitRequested;
  int scannersOpened = 0, scannersClosed = 0;
  std::vector<std::string> scannerPaths, scannerResults;
};

}  // namespace vantorel::test
