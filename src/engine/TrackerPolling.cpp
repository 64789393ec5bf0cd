// The poll thread: one pass takes the changed paths out of the queue,
// examines them and a batch of the transfers in progress, updates the
// counts, and sleeps a little longer each time nothing completes.

#include <sys/stat.h>

#include <algorithm>

#include "engine/TrackPathUtilities.h"
#include "engine/Tracker.h"
#include "units/text/DateUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/net/NetworkReachability.h"
#include "units/fs/PathUtilities.h"
#include "units/text/RegularExpressionUtilities.h"
#include "units/runtime/TThread.h"

namespace vantorel {

namespace {
constexpr double kPauseCheckInterval = 5.0;
constexpr double kScanWorkBeforeYield = 1.0;
constexpr double kScanYield = 0.5;
constexpr double kIntervalGrowth = 0.25;
// A placeholder gone this long with its transfer unfinished was cancelled on
// the other side (or its item went somewhere the tracker does not look).
constexpr double kAbandonedDownloadAfter = 30.0;

bool PollThreadCancelled() {
  TThread* thread = TThread::CurrentThread();
  return thread != nullptr && thread->IsCancelled();
}

// The longest sleep between passes for this many transfers in progress.
double IntervalCeiling(int transfers) {
  if (transfers <= 10) return 10;
  if (transfers <= 50) return 20;
  if (transfers <= 100) return 30;
  return 60;
}

}  // namespace

namespace {
// The copy of the settings the pass running on this thread works from.
struct PassSettings {
  const TICloudTracker* owner = nullptr;
  const std::shared_ptr<const TrackerSettings>* settings = nullptr;
};
thread_local PassSettings passSettings;
}  // namespace

class TICloudTracker::PassSettingsScope {
public:
  explicit PassSettingsScope(const TICloudTracker* tracker)
      : settings_(tracker->Settings()), previous_(passSettings) {
    passSettings = {tracker, &settings_};
  }
  ~PassSettingsScope() { passSettings = previous_; }
  PassSettingsScope(const PassSettingsScope&) = delete;
  PassSettingsScope& operator=(const PassSettingsScope&) = delete;

private:
  std::shared_ptr<const TrackerSettings> settings_;
  PassSettings previous_;
};

std::shared_ptr<const TrackerSettings> TICloudTracker::Settings() const {
  if (passSettings.owner == this) return *passSettings.settings;
  std::lock_guard lock(settingsLock_);
  return settings_;
}

void TICloudTracker::PollForStatus() {
  // Cancellation is tested between passes only: a pass always runs to its end.
  while (!PollThreadCancelled()) {
    PollOnce();
    options_.clock->Sleep(pollInterval_.load());
  }
}

void TICloudTracker::PollOnce() {
  while (paused_.load() && !PollThreadCancelled()) options_.clock->Sleep(kPauseCheckInterval);
  const PassSettingsScope settingsOfThisPass(this);
  completionsThisPass_ = 0;
  if (finishedTransfering_.load()) {
    // The batch that finished last pass has been reported; start afresh.
    // Downloads received while an upload batch ran are not part of it: they
    // stay, and close as their own batch once no download has come for the
    // delay. (A closed download batch has emptied its set already.)
    std::lock_guard lock(transfersLock_);
    finishedTransfering_ = false;
    transferStartTime_ = 0.0;
    if (completedDownloads_.Empty()) lastDownloadTime_ = 0.0;
    completedTransfers_.Clear();
    totalTransfers_.Clear();
  }
  ForgetOldCompletions();
  ScanQueue();
  PollBatch();
  UpdateTransferStatus();
  if (transferLog_.WrittenSinceCheck()) CheckLogSize();
  const int inProgress = GetTransferCount();
  if (completionsThisPass_.load() == 0 && inProgress > 0)
    pollInterval_ = std::min(pollInterval_.load() + kIntervalGrowth, IntervalCeiling(inProgress));
}

void TICloudTracker::ScanQueue() {
  // Held for the whole scan: the main thread parks new paths meanwhile.
  ChangeQueue::Scan queue(queue_);
  if (queue.Empty()) return;
  AbsoluteTime workStart = options_.clock->Now();
  ResetInactivityTimer();
  const auto settings = Settings();
  for (const std::string& path : queue.Paths()) {
    if (paused_.load()) break;
    if (rules_.IsDropped(path, *settings)) {
      queue.Remove(path);
      continue;
    }
    // Items inside packages, empty or missing items and plain folders are
    // not examined.
    if (!isFilePackaged(path) && doesFileContainBytes(path) && (!isDirectory(path) || isPackage(path)))
      CheckStatus(path);
    queue.Remove(path);
    if (options_.clock->Now() - workStart > kScanWorkBeforeYield) {
      options_.clock->Sleep(kScanYield);
      workStart = options_.clock->Now();
    }
  }
}

void TICloudTracker::PollBatch() {
  const auto limit = static_cast<std::size_t>(std::max(0, batchSize_.load()));  // 0: no limit
  std::vector<std::string> batch;
  {
    // Chosen under the lock straight from the table: no copy of every path.
    std::lock_guard lock(transfersLock_);
    batch = sets_.ChooseBatch(limit);
  }
  // A pause that came in meanwhile skips the batch (it still counts as chosen).
  if (batch.empty() || paused_.load()) return;
  for (const std::string& path : batch) CheckStatus(path);
}

namespace {
// What a file's content is, as far as a change would show: size and time.
std::pair<std::int64_t, std::int64_t> ContentStamp(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {-1, 0};
  return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}
constexpr double kCompletionEchoWindow = 60.0;
}  // namespace

void TICloudTracker::NoteCompletion(const std::string& path) {
  recentCompletions_[path] = RecentCompletion{ContentStamp(path), options_.clock->Now()};
}

void TICloudTracker::ForgetOldCompletions() {
  const AbsoluteTime now = options_.clock->Now();
  std::erase_if(recentCompletions_, [&](const auto& entry) { return now - entry.second.when > kCompletionEchoWindow; });
}

bool TICloudTracker::IsEchoOfCompletion(const std::string& path) {
  auto it = recentCompletions_.find(path);
  return it != recentCompletions_.end() && options_.clock->Now() - it->second.when <= kCompletionEchoWindow &&
         it->second.stamp == ContentStamp(path);
}

void TICloudTracker::DropPlaceholderOfLocked(const std::string& item) {
  if (source_.IsDownloadFile(item)) return;
  const std::string placeholder = source_.PlaceholderPathOf(item);
  vanishedPlaceholders_.erase(placeholder);
  if (!transfers_.Contains(placeholder)) return;
  // One transfer, now known under the item's own path: it is not counted twice.
  transfers_.Remove(placeholder);
  if (totalTransfers_.Contains(placeholder)) totalTransfers_.Remove(placeholder);
}

bool TICloudTracker::IsAbandonedDownload(const std::string& placeholder) {
  const AbsoluteTime now = options_.clock->Now();
  const auto [it, first] = vanishedPlaceholders_.try_emplace(placeholder, now);
  if (first || now - it->second < kAbandonedDownloadAfter) return false;
  vanishedPlaceholders_.erase(it);
  return true;
}

void TICloudTracker::CompleteTransfer(const std::string& tracked, const std::string& item) {
  NoteCompletion(item);
  AddTransferFinishedEntry(item);
  {
    std::lock_guard lock(transfersLock_);
    transfers_.Remove(tracked);
    if (tracked == item) DropPlaceholderOfLocked(item);
    vanishedPlaceholders_.erase(tracked);
    ++completionsThisPass_;
    completedTransfers_.Add(item);
  }
  ResetInactivityTimer();
}

bool TICloudTracker::TransfersContain(const std::string& path) const {
  std::lock_guard lock(transfersLock_);
  return transfers_.Contains(path);
}

std::vector<std::string> TICloudTracker::TrackablePaths(const std::vector<std::string>& paths) {
  const auto settings = Settings();
  std::vector<std::string> kept;
  for (const std::string& path : paths)
    if (!rules_.IsDropped(path, *settings) && rules_.PassesFilters(path, *settings)) kept.push_back(path);
  return kept;
}

void TICloudTracker::CheckStatus(const std::string& path) {
  const auto settings = Settings();
  const bool trackDownloads = settings->trackIncomingDownloads;
  const bool reference = source_.IsDownloadFile(path);
  const bool exists = doesFileExist(path);

  // A download reference is never missing while downloads are tracked.
  if (!exists && !(trackDownloads && reference)) {
    {
      std::lock_guard lock(transfersLock_);
      if (transfers_.Contains(path)) transfers_.Remove(path);
    }
    ResetInactivityTimer();
    return;
  }

  const bool transferred = trackDownloads ? (!reference && source_.IsUploaded(path)) : source_.IsUploaded(path);
  if (transferred) {
    if (TransfersContain(path)) {  // an upload in progress has finished
      CompleteTransfer(path, path);
      return;
    }
    if (!trackDownloads || !rules_.PassesFilters(path, *settings)) {
      ResetInactivityTimer();
      return;
    }
    const std::string placeholder = source_.PlaceholderPathOf(path);
    if (TransfersContain(placeholder)) {  // a tracked download has arrived
      CompleteTransfer(placeholder, path);
      return;
    }
    // Changed and already uploaded when examined, with no placeholder seen:
    // a download received. Not so for an item that has just completed here
    // and not changed since: the sync state's own last change arrives as
    // one more event a moment after the completion.
    if (IsEchoOfCompletion(path)) {
      ResetInactivityTimer();
      return;
    }
    // The guess above is for sources that cannot tell: one that knows the
    // item went out from here (an upload begun and ended between two looks)
    // has received nothing.
    if (source_.DirectionOf(path) == TransferDirection::Sending) {
      ResetInactivityTimer();
      return;
    }
    {
      std::lock_guard lock(transfersLock_);
      if (!completedDownloads_.Contains(path)) {
        if (settings->logReceivedDownloads) AddTransferFinishedEntry(path);
        const AbsoluteTime now = options_.clock->Now();
        if (transferStartTime_.load() == 0.0) transferStartTime_ = now;
        lastDownloadTime_ = now;
        completedDownloads_.Add(path);
      }
    }
    ResetInactivityTimer();
    return;
  }

  if (reference && trackDownloads && TransfersContain(path)) {
    // The placeholder is never "missing" (its item may be arriving), but
    // one gone for a while whose item never came ends as a vanished item.
    if (exists) {
      vanishedPlaceholders_.erase(path);
    } else if (IsAbandonedDownload(path)) {
      {
        std::lock_guard lock(transfersLock_);
        transfers_.Remove(path);
      }
      ResetInactivityTimer();
      return;
    }
  }

  // Still in progress: nothing changes, and the interval may grow.
  if (TransfersContain(path)) return;

  if (!rules_.PassesFilters(path, *settings) || !doesFileExist(path)) {
    ResetInactivityTimer();
    return;
  }
  {
    std::lock_guard lock(transfersLock_);
    if (transferStartTime_.load() == 0.0) transferStartTime_ = options_.clock->Now();
    transfers_.Add(path);
    totalTransfers_.Add(path);
    DropPlaceholderOfLocked(path);
  }
  ResetInactivityTimer();
}

void TICloudTracker::AddSummaryLine(int count, const char* what) {
  if (count <= 0) return;
  AddLogEntry("[" + shortDateString(options_.clock->Now(), false) + "] ======== " + std::to_string(count) +
              (count == 1 ? " file was " : " files were ") + what + " ========");
}

void TICloudTracker::UpdateTransferStatus() {
  int inProgress, completed, downloads;
  {
    std::lock_guard lock(transfersLock_);
    inProgress = transfers_.Size();
    completed = completedTransfers_.Size();
    downloads = completedDownloads_.Size();
  }
  // Decided from this one reading: the main thread may change the sets
  // meanwhile (RemoveTransfers, SetExistingTransfers), and a second reading
  // could then hide the end of a batch from the next pass.
  int downloadsAfter = downloads;
  const auto settings = Settings();
  if (inProgress != previousTransferCount_ && inProgress > 0) {
    SendStatusChanged(false);
  } else if (previousTransferCount_ > 0 && inProgress == 0) {
    // The batch of transfers has finished.
    finishedTransfering_ = true;
    if (settings->enableLogging) AddSummaryLine(completed, "transferred");
    SaveRecentTransfers();
    const AbsoluteTime now = options_.clock->Now();
    // A batch whose items all vanished (deleted before they were uploaded)
    // transferred nothing: "Last transfer" keeps its date. (The application
    // stores it when it hears of the batch's end.)
    if (completed > 0) lastTransferDate_ = now;
    elapsedTransferTime_ = now - transferStartTime_.load();
    // The delegate reads the batch's counts before the next pass clears them.
    SendStatusChanged(true);
  } else if (downloads > 0 && inProgress == 0) {
    if (downloads != previousCompletedDownloadCount_.load()) SendStatusChanged(true);
    const auto delay = static_cast<float>(settings->downloadBatchDelay);
    if (options_.clock->Now() - lastDownloadTime_.load() > delay) {
      // No download for longer than the delay: the download batch closes.
      if (settings->logReceivedDownloads) AddSummaryLine(downloads, "downloaded");
      // The received items went into the history: kept now, not only when
      // an upload batch ends or Vantorel quits (a crash would lose them).
      SaveRecentTransfers();
      elapsedTransferTime_ = 0.0;
      previousCompletedDownloadCount_ = downloads;
      {
        std::lock_guard lock(transfersLock_);
        completedDownloads_.Clear();
      }
      downloadsAfter = 0;
      finishedTransfering_ = true;
      SendStatusChanged(true);
    }
  }
  previousTransferCount_ = inProgress;
  previousCompletedDownloadCount_ = downloadsAfter;
}

void TICloudTracker::ResetInactivityTimer() {
  pollInterval_ = 1.0;
  const std::int64_t mode = Settings()->pollingMode;
  // Any other value leaves the batch size as it was.
  if (mode == 0) batchSize_ = 100;
  if (mode == 1) batchSize_ = 25;
  if (mode == 2) batchSize_ = 200;
}

void TICloudTracker::HandleNetworkReachabilityChanged(TNotification*) {
  // The notification's status is not trusted: the network is asked afresh.
  const bool reachable = GetNetworkReachability() > 0;
  reachable_ = reachable;
  if (!reachable) {
    Pause();
  } else {
    ResetInactivityTimer();
    Resume();
  }
}

}  // namespace vantorel
