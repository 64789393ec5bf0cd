#pragma once
// TAppController: the application's delegate and the owner of the tracker.
// It runs the launch sequence, follows two preferences while running, turns
// the tracker's reports into user notifications, and pauses the tracker
// around a rescan. Toolkit-free: it reaches the user through a TAppFace.
// Main thread only.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Tracker.h"
#include "shell/AppCommands.h"
#include "shell/AppFace.h"
#include "shell/Scanner.h"
#include "shell/ShutdownGuard.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TAppFace;
class TTimer;

class TAppController : public TICloudTrackerDelegate, public TScannerDelegate, public TAppCommands {
public:
  // How the tracker is made (tests run its passes themselves).
  explicit TAppController(TAppFace& face, TICloudTracker::Options trackerOptions = {});
  ~TAppController() override;
  TAppController(const TAppController&) = delete;
  TAppController& operator=(const TAppController&) = delete;

  // The launch sequence. False when the application must end instead of
  // running; `exitCode` then says with which status.
  bool applicationDidFinishLaunching(int* exitCode);
  // Orderly end: scans are cancelled and waited for, the tracker stops and
  // saves its history. Call with the main loop stopping or stopped.
  void Quit();

  TICloudTracker* GetTracker() const { return tracker_.get(); }
  TAppFace& Face() const { return face_; }
  // Called after the face has heard of each change of the tracker's state.
  void SetStatusListener(std::function<void()> listener) { statusListener_ = std::move(listener); }
  // Scans `folder` for transfers in progress, as a rescan does; a folder
  // below the watched one is scanned as a part of it (the transfers found
  // elsewhere stay). False, with `refusal` saying why in one line, when no
  // watched folder holds it.
  bool RescanFolder(const std::string& folder, std::string* refusal);
  bool IsFirstLaunch() const { return firstLaunch_; }
  // The folder given on the command line: chosen by the user, so the launch
  // makes sure the include patterns take it in.
  void SetFolderChosenAtLaunch(std::string folder) { folderChosenAtLaunch_ = std::move(folder); }

  // TAppCommands
  void statusItemClicked() override;
  void showUpdatePortal() override;
  std::string itemSourceSummary() override;
  std::vector<ClientFolder> syncClientFolders() override;
  bool canPauseSyncing() override;
  bool pausesSyncing() override;
  bool syncingPaused() override;
  bool setSyncingPaused(bool paused, std::string* problem) override;
  std::optional<bool> shutdownHeld() override;
  // Rescans the watched folder (with `ask`, a folder the user chooses).
  void performRescan(bool ask) override;
  void openPreferences() override;
  void terminate() override;

  // Preference migration, run at every launch but the first.
  void updatePreferenceVersion();
  // A watched preference changed.
  void observeValueForKeyPath(const std::string& keyPath);
  // Delivers the batch's notifications (normally from the delayed call).
  void showTrackerNotifications();

  // TICloudTrackerDelegate
  void trackerStatusChanged(TICloudTracker* tracker) override;
  void trackerError(TICloudTracker* tracker, const std::string& error) override;
  void trackerTransferFailed(TICloudTracker* tracker, const std::string& path, const std::string& sentence) override;
  void trackerSourceNotice(TICloudTracker* tracker, const std::string& text) override;
  void trackerDebugInfo(TICloudTracker* tracker, const PlistValue::Dictionary& info) override;
  // TScannerDelegate
  void scannerWillStart() override;
  void scannerDidStop(const TScanner& scanner, const std::vector<std::string>& transfers,
                      bool userCanceled) override;

private:
  // Running totals of the current notification batch.
  struct NotificationStats {
    float elapsedTransferTime = 0;
    std::int64_t previousCompletedDownloadCount = 0;
    std::int64_t completedTransferCount = 0;
    std::int64_t totalTransferCount = 0;
  };

  bool LocateICloudDriveFolder(const std::string& message, int* exitCode);
  // Runs the welcome and stores what its Done chose; false when the user
  // quit (or Done in a sandbox), which ends the application with 0.
  bool RunWelcome();
  void CancelPendingNotifications();
  // Tells the shutdown guard what uploads wait now.
  void UpdateShutdownGuard(const TrackerSnapshot& snapshot);
  // The machine shuts down or sleeps with `waiting` not uploaded: the
  // history saved, one line on the terminal and in the log, the list kept
  // for the next launch. Main thread.
  void GoingDownWithUploads(bool sleep, const std::vector<std::string>& waiting);
  // At launch, a while after tracking began: what of the list kept at the
  // last shutdown is still not uploaded, said once. Main thread.
  void SayWhatTheLastShutdownLeft();

  TAppFace& face_;
  const TICloudTracker::Options trackerOptions_;
  // What the tracker will ask, made at the start of the launch.
  std::shared_ptr<ItemStateSource> itemSource_;
  TRef<TICloudTracker> tracker_;
  // Holds shutdown while uploads wait (from the tracker's start on).
  std::unique_ptr<ShutdownGuard> shutdownGuard_;
  // False once quitting began: a call posted by the guard's thread then
  // does nothing.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
  std::optional<NotificationStats> trackerNotificationStats_;
  TRef<TTimer> pendingNotifications_;
  std::vector<TRef<TScanner>> scanners_;
  std::vector<std::uint64_t> observers_;
  std::optional<std::string> folderChosenAtLaunch_;
  bool firstLaunch_ = false;
  bool quitInWelcome_ = false;
  bool statusItemLoaded_ = false;
  std::function<void()> statusListener_;
};

}  // namespace vantorel
