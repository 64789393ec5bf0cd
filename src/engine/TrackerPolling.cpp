// The poll thread's loop and the settings it follows.

#include "engine/Tracker.h"
#include "units/NetworkReachability.h"
#include "units/PreferenceKeys.h"
#include "units/TThread.h"
#include "units/UserDefaults.h"

namespace vantorel {

namespace {
constexpr double kPauseCheckInterval = 5.0;

bool PollThreadCancelled() {
  TThread* thread = TThread::CurrentThread();
  return thread != nullptr && thread->IsCancelled();
}
}  // namespace

void TICloudTracker::PollForStatus() {
  // Cancellation is tested between passes only: a pass always runs to its end.
  while (!PollThreadCancelled()) {
    PollOnce();
    options_.clock->Sleep(pollInterval_.load());
  }
}

void TICloudTracker::PollOnce() {
  while (paused_.load() && !PollThreadCancelled()) options_.clock->Sleep(kPauseCheckInterval);
  completionsThisPass_ = 0;
  if (finishedTransfering_.load()) {
    // The batch that finished last pass has been reported; start afresh.
    std::lock_guard lock(transfersLock_);
    finishedTransfering_ = false;
    transferStartTime_ = 0.0;
    lastDownloadTime_ = 0.0;
    completedTransfers_.Clear();
    totalTransfers_.Clear();
    completedDownloads_.Clear();
  }
  DrainQueue();
  if (transferLogWritten_) CheckLogSize();
}

void TICloudTracker::DrainQueue() {
  std::lock_guard lock(queueLock_);
  queue_.Clear();
}

void TICloudTracker::ResetInactivityTimer() {
  pollInterval_ = 1.0;
  const std::int64_t mode = NSPrefs().IntegerForKey(kPreferenceKeyPollingMode);
  // Any other value leaves the batch size as it was.
  if (mode == 0) batchSize_ = 100;
  if (mode == 1) batchSize_ = 25;
  if (mode == 2) batchSize_ = 200;
}

void TICloudTracker::HandleNetworkReachabilityChanged(TNotification*) {
  // The notification's status is not trusted: the network is asked afresh.
  if (GetNetworkReachability() <= 0) {
    Pause();
  } else {
    ResetInactivityTimer();
    Resume();
  }
}

}  // namespace vantorel
