// Turning the tracker's reports into user notifications: finished reports
// are summed into a batch, and one notification covers a whole burst.

#include <algorithm>
#include <cmath>

#include "shell/AppController.h"
#include "shell/AppFace.h"
#include "units/fs/PathUtilities.h"
#include "units/runtime/AbsoluteTime.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"
#include "units/text/DateUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/runtime/TTimer.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

namespace {
constexpr const char* kNotificationTitle = "iCloud Drive";
constexpr const char* kNoSound = "****";
// Transfers looked at for the names in the shutdown lock's reason.
constexpr std::size_t kPathsInShutdownReason = 20;

// The title names the sync service the transfers went through; the
// attributes' own service keeps its name.
UserNotification MakeNotification(const std::string& service, std::string subtitle) {
  UserNotification notification;
  notification.title = service == "attributes" ? kNotificationTitle : service;
  notification.subtitle = std::move(subtitle);
  const auto sound = NSPrefs().GetString(kPreferenceKeyNotificationSound);
  if (!sound) {
    notification.sound = UserNotification::Sound::Default;
  } else if (*sound == kNoSound) {
    notification.sound = UserNotification::Sound::None;
  } else {
    notification.sound = UserNotification::Sound::Named;
    notification.soundName = lastPathComponentWithoutExtension(*sound);
  }
  return notification;
}
}  // namespace

void TAppController::CancelPendingNotifications() {
  if (pendingNotifications_ && pendingNotifications_->IsValid()) pendingNotifications_->Remove();
  pendingNotifications_.reset();
}

void TAppController::trackerStatusChanged(TICloudTracker*) {
  if (!tracker_) return;
  face_.TrackerStatusChanged(tracker_.get());
  if (statusListener_) statusListener_();
  CancelPendingNotifications();  // on every change, finished or not
  // One reading: the batch's end and its counts come from the same moment.
  const TrackerSnapshot batch = tracker_->Snapshot();
  UpdateShutdownGuard(batch);
  if (batch.finished) {
    // The tracker keeps when a transfer last completed; the preferences keep
    // it across launches.
    const auto last = batch.lastTransfer;
    if (last && NSPrefs().GetDate(kPreferenceKeyLastTransferDate) != last)
      NSPrefs().SetDate(kPreferenceKeyLastTransferDate, *last);
    if (!trackerNotificationStats_) trackerNotificationStats_ = NotificationStats{};
    NotificationStats& stats = *trackerNotificationStats_;
    stats.elapsedTransferTime =
        static_cast<float>(static_cast<double>(stats.elapsedTransferTime) + batch.elapsedTime);
    stats.previousCompletedDownloadCount += batch.previousCompletedDownloads;
    stats.completedTransferCount += batch.completed;
    stats.totalTransferCount += batch.total;
    TUserDefaults& prefs = NSPrefs();
    const double delay = prefs.BoolForKey(kPreferenceKeyTrackIncomingDownloads)
                             ? static_cast<float>(prefs.FloatForKey(kPreferenceKeyDownloadBatchDelay))
                             : 1.0;
    pendingNotifications_ = TTimer::Create(delay, 0.0, [this](void*) { showTrackerNotifications(); });
    pendingNotifications_->Install();
  }
}

void TAppController::UpdateShutdownGuard(const TrackerSnapshot& snapshot) {
  if (!shutdownGuard_ || !tracker_) return;
  const int uploads = std::max(0, snapshot.inProgress - snapshot.downloadsInProgress);
  std::vector<std::string> paths;
  if (uploads > 0)
    for (const auto& [path, download] : tracker_->GetTransfersWithDirection(kPathsInShutdownReason))
      if (!download) paths.push_back(path);
  std::sort(paths.begin(), paths.end());
  shutdownGuard_->Update(uploads, std::move(paths),
                         NSPrefs().GetBool(kPreferenceKeyHoldShutdownWhileUploading).value_or(true));
}

namespace {
// "a.txt, b.txt, c.txt, …": the names of the first three of `paths`.
std::string NamesOf(const std::vector<std::string>& paths) {
  std::string names;
  for (std::size_t i = 0; i < paths.size() && i < 3; ++i)
    names += (i == 0 ? "" : ", ") + EscapedForLine(lastPathComponent(paths[i]));
  return paths.size() > 3 ? names + ", …" : names;
}
}  // namespace

void TAppController::GoingDownWithUploads(bool sleep, const std::vector<std::string>& waiting) {
  if (!tracker_ || waiting.empty()) return;
  tracker_->SaveRecentTransfers();
  const std::string line = std::string(sleep ? "Going to sleep" : "Shutting down") + " with " +
                           std::to_string(waiting.size()) + (waiting.size() == 1 ? " file" : " files") +
                           " not uploaded: " + NamesOf(waiting) + ".";
  WriteDiagnosticLine(line);
  if (tracker_->Settings()->enableLogging)
    tracker_->AddLogEntry("[" + shortDateString(CurrentAbsoluteTime(), false) + "] " + line);
  // Asked about again at the next launch.
  NSPrefs().SetStringArray(kPreferenceKeyUploadsWaitingAtShutdown, waiting);
}

void TAppController::SayWhatTheLastShutdownLeft() {
  const auto listed = NSPrefs().GetStringArray(kPreferenceKeyUploadsWaitingAtShutdown);
  NSPrefs().Remove(kPreferenceKeyUploadsWaitingAtShutdown);
  if (!listed || !tracker_) return;
  // The source is asked again: what it has sent since is not said.
  std::vector<std::string> still;
  ItemStateSource& source = *tracker_->GetItemSource();
  for (const std::string& path : *listed)
    if (doesFileExist(path) && !source.IsUploaded(path)) still.push_back(path);
  if (still.empty()) return;
  const std::string line = "Still not uploaded since the last shutdown: " + NamesOf(still) + ".";
  WriteDiagnosticLine(line);
  if (tracker_->Settings()->enableLogging)
    tracker_->AddLogEntry("[" + shortDateString(CurrentAbsoluteTime(), false) + "] " + line);
}

void TAppController::trackerTransferFailed(TICloudTracker*, const std::string&, const std::string& sentence) {
  // Each failure once, at once: it is no batch's summary.
  if (!tracker_ || !NSPrefs().BoolForKey(kPreferenceKeyShowNotifications)) return;
  face_.DeliverNotification(MakeNotification(tracker_->GetItemSource()->Describe().name, sentence));
}

void TAppController::trackerSourceNotice(TICloudTracker*, const std::string& text) {
  if (!tracker_ || !NSPrefs().BoolForKey(kPreferenceKeyShowNotifications)) return;
  face_.DeliverNotification(MakeNotification(tracker_->GetItemSource()->Describe().name, text));
}

void TAppController::showTrackerNotifications() {
  const NotificationStats stats = trackerNotificationStats_.value_or(NotificationStats{});
  if (trackerNotificationStats_) *trackerNotificationStats_ = NotificationStats{};  // emptied, kept
  TUserDefaults& prefs = NSPrefs();
  const std::string service = tracker_ ? tracker_->GetItemSource()->Describe().name : "attributes";
  const auto downloads = stats.previousCompletedDownloadCount;
  const auto completed = stats.completedTransferCount;
  const auto total = stats.totalTransferCount;
  if (downloads > 0 && total == 0 && prefs.BoolForKey(kPreferenceKeyShowDownloadNotifications)) {
    face_.DeliverNotification(MakeNotification(
        service, std::to_string(downloads) + (downloads == 1 ? " download complete." : " downloads complete.")));
  }
  if (total > 0 && completed > 0 &&
      stats.elapsedTransferTime > prefs.FloatForKey(kPreferenceKeyElapsedTimeNotificationLimit) &&
      prefs.BoolForKey(kPreferenceKeyShowNotifications)) {
    std::string subtitle;
    if (completed == total) {
      subtitle = std::to_string(completed) + (completed == 1 ? " transfer complete." : " transfers complete.");
    } else {
      // Rounded half to even: 1 of 8 gives 12, 3 of 8 gives 38.
      const long percent = std::lrint(static_cast<double>(completed) / static_cast<double>(total) * 100.0);
      subtitle = "Completed " + std::to_string(completed) + " of " + std::to_string(total) + " transfers (" +
                 std::to_string(percent) + "%)";
    }
    face_.DeliverNotification(MakeNotification(service, std::move(subtitle)));
  }
}

}  // namespace vantorel
