// Turning the tracker's reports into user notifications: finished reports
// are summed into a batch, and one notification covers a whole burst.

#include <algorithm>
#include <cmath>

#include "shell/AppController.h"
#include "shell/AppFace.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/runtime/TTimer.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

namespace {
constexpr const char* kNotificationTitle = "iCloud Drive";
constexpr const char* kNoSound = "****";
// Transfers looked at for the names in the shutdown lock's reason.
constexpr std::size_t kNamesInShutdownReason = 20;

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
  std::vector<std::string> names;
  if (uploads > 0)
    for (const auto& [path, download] : tracker_->GetTransfersWithDirection(kNamesInShutdownReason))
      if (!download) names.push_back(lastPathComponent(path));
  std::sort(names.begin(), names.end());
  shutdownGuard_->Update(uploads, std::move(names),
                         NSPrefs().GetBool(kPreferenceKeyHoldShutdownWhileUploading).value_or(true));
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
