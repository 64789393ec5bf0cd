#include "console/ConsoleFace.h"

#include <signal.h>
#include <unistd.h>

#include "engine/Tracker.h"
#include "shell/StatusLine.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/net/NetworkReachability.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TNumber.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

namespace {
constexpr double kNetworkSettle = 1.0;  // seconds a new state must hold to be told
}

ConsoleFace::ConsoleFace(std::optional<std::string> folder) : folder_(std::move(folder)) {}

ConsoleFace::~ConsoleFace() {
  if (networkTimer_ != 0 && MainLoop::Main() != nullptr) MainLoop::Main()->CancelTimer(networkTimer_);
}

void ConsoleFace::ObserveNetwork() {
  networkTold_ = GetNetworkReachability() > 0;  // the state at launch goes without saying
  networkReachable_ = *networkTold_;
  TNotificationCenter::DefaultCenter()->ObserveNotification(this, SCNetworkReachabilityChangedNotification,
                                                            &ConsoleFace::NetworkChanged);
}

std::string ConsoleFace::ToolkitVersionLine() { return "Toolkit version: none (console face)"; }

WelcomeChoice ConsoleFace::RunWelcome(const WelcomeFolderSource&) {
  // The welcome window is where a first run picks its folder; on a terminal
  // that is --folder, and the welcome counts as closed.
  if (folder_) NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *folder_);
  return {};
}

std::optional<std::string> ConsoleFace::RunFolderPanel(const FolderPanel& panel) {
  WriteDiagnosticLine(panel.message);
  return std::nullopt;
}

int ConsoleFace::RunAlert(const Alert& alert) {
  WriteDiagnosticLine(alert.informative.empty() ? alert.message : alert.message + " " + alert.informative);
  return 0;
}

void ConsoleFace::TrackerStatusChanged(TICloudTracker* tracker) {
  const std::string line = StatusLineText(tracker->Snapshot(), CurrentAbsoluteTime());
  WriteDiagnosticLine(line);
  lastStatusLine_ = line;
}

void ConsoleFace::DeliverNotification(const UserNotification& notification) {
  WriteDiagnosticLine(notification.title + ": " + notification.subtitle);
}

void ConsoleFace::ScannerResultsChanged(TScanner&, const std::string& results) {
  if (!results.empty()) WriteDiagnosticLine(results);
}

void ConsoleFace::NetworkChanged(TNotification* notification) {
  auto* status = dynamic_cast<TNumber*>(notification->Object());
  networkReachable_ = status && status->IntegerValue() > 0;
  MainLoop* loop = MainLoop::Main();
  if (loop == nullptr) {
    TellNetwork();
    return;
  }
  if (networkTimer_ != 0) loop->CancelTimer(networkTimer_);
  networkTimer_ = loop->AddTimer(kNetworkSettle, [this] {
    networkTimer_ = 0;
    TellNetwork();
  });
}

void ConsoleFace::TellNetwork() {
  if (networkTold_ == networkReachable_) return;  // down and back up: nothing to tell
  networkTold_ = networkReachable_;
  WriteDiagnosticLine(networkReachable_ ? "Network reachable again: tracking resumes."
                                        : "Network unreachable: tracking pauses until it returns.");
}

void ConsoleFace::RequestQuit(int) { ::kill(::getpid(), SIGTERM); }

}  // namespace vantorel
