// The poll thread: one pass takes the changed paths out of the queue,
// examines them and a slice of the transfers in progress, updates the
// counts, and sleeps a little longer each time nothing completes.

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "engine/TrackPathUtilities.h"
#include "engine/Tracker.h"
#include "units/text/DateUtilities.h"
#include "units/text/LineText.h"
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
// How recent a change must be for an upload first seen done to be recorded
// (seconds of wall-clock time; the completions remembered span as long).
constexpr std::time_t kQuickUploadWindow = 600;
// Failed transfers kept for the user to see, at most.
constexpr std::size_t kMostFailuresKept = 1000;
constexpr std::size_t kLongestFailureReason = 200;

bool PollThreadCancelled() {
  TThread* thread = TThread::CurrentThread();
  return thread != nullptr && thread->IsCancelled();
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
    options_.clock->Sleep(pacing_.Interval());
  }
}

void TICloudTracker::PollOnce() {
  if (paused_.load()) {
    // The resume is delivered on the main thread: a pass run there (no poll
    // thread) would wait for it for ever, so it is skipped instead.
    const MainLoop* loop = MainLoop::Main();
    if (loop != nullptr && loop->IsMainThread()) return;
  }
  while (paused_.load() && !PollThreadCancelled()) options_.clock->Sleep(kPauseCheckInterval);
  const PassSettingsScope settingsOfThisPass(this);
  pacing_.BeginPass();
  {
    // The batch that ended last pass has been reported; start afresh.
    // Downloads received while an upload batch ran are not part of it: they
    // stay, and close as their own batch once no download has come for the
    // delay. (A closed download batch has emptied its set already.)
    std::lock_guard lock(transfersLock_);
    if (batch_.StartAfreshIfEnded(!completedDownloads_.Empty())) {
      completedTransfers_.Clear();
      totalTransfers_.Clear();
    }
  }
  memory_.ForgetOldCompletions(options_.clock->Now());
  ScanQueue();
  PollSlice();
  RecordFinishedOfThisPass();
  UpdateTransferStatus();
  if (transferLog_.WrittenSinceCheck()) CheckLogSize();
  int inProgress;
  {
    std::lock_guard lock(transfersLock_);
    inProgress = transfers_.Size();
  }
  pacing_.EndPass(inProgress);
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
    // not examined; a download the client waits to begin has no file yet.
    if (!isFilePackaged(path) && (!isDirectory(path) || isPackage(path)) &&
        (doesFileContainBytes(path) ||
         (!doesFileExist(path) && source_.IsDownloadFile(path) && IsAwaitedDownload(path))))
      CheckStatus(path);
    queue.Remove(path);
    if (options_.clock->Now() - workStart > kScanWorkBeforeYield) {
      options_.clock->Sleep(kScanYield);
      workStart = options_.clock->Now();
    }
  }
}

void TICloudTracker::PollSlice() {
  const auto limit = static_cast<std::size_t>(std::max(0, pacing_.SliceSize()));  // 0: no limit
  std::vector<std::string> slice;
  {
    // Chosen under the lock straight from the table: no copy of every path.
    std::lock_guard lock(transfersLock_);
    slice = sets_.ChooseSlice(limit);
  }
  // A pause that came in meanwhile skips the slice (it still counts as chosen).
  if (slice.empty() || paused_.load()) return;
  for (const std::string& path : slice) CheckStatus(path);
}

void TICloudTracker::DropPlaceholderOfLocked(const std::string& item) {
  if (source_.IsDownloadFile(item)) return;
  const std::string placeholder = source_.PlaceholderPathOf(item);
  memory_.ForgetPlaceholder(placeholder);
  if (!transfers_.Contains(placeholder)) return;
  // One transfer, now known under the item's own path: it is not counted twice.
  transfers_.Remove(placeholder);
  if (totalTransfers_.Contains(placeholder)) totalTransfers_.Remove(placeholder);
}

bool TICloudTracker::ChangedInTheLastMinutes(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && std::time(nullptr) - st.st_mtim.tv_sec <= kQuickUploadWindow;
}

bool TICloudTracker::IsAwaitedDownload(const std::string& placeholder) {
  const auto item = source_.ItemOfDownloadFile(placeholder);
  return item && source_.IsDownloading(*item);
}

void TICloudTracker::CompleteTransfer(const std::string& tracked, const std::string& item) {
  const AbsoluteTime now = options_.clock->Now();
  memory_.NoteCompletion(item, now, source_.ContentVersion(item));
  const bool logDownloads = Settings()->logReceivedDownloads;
  // Asked at the end too: the source may have learnt only later that the
  // item came in (taken in while it looked like a change of ours).
  const bool cameIn = source_.DirectionOf(item) == TransferDirection::Receiving;
  bool record = true;
  {
    std::lock_guard lock(transfersLock_);
    // What arrived is a download however it was first seen (a pull watched
    // through its temporary file, or only once it was there): counted and
    // announced as one, never as a transfer of the batch.
    const bool arrived = cameIn || downloadsInProgress_.Contains(tracked);
    transfers_.Remove(tracked);
    if (tracked == item) DropPlaceholderOfLocked(item);
    memory_.ForgetPlaceholder(tracked);
    pacing_.NoteCompletion();
    if (!arrived) {
      completedTransfers_.Add(item);
    } else {
      if (totalTransfers_.Contains(tracked)) totalTransfers_.Remove(tracked);
      record = logDownloads && !completedDownloads_.Contains(item);
      if (!completedDownloads_.Contains(item)) {
        batch_.DownloadReceived(now);
        completedDownloads_.Add(item);
      }
    }
  }
  if (record) finishedThisPass_.push_back(item);
  ResetInactivityTimer();
}

void TICloudTracker::FailTransfer(const std::string& tracked) {
  const auto downloadItem = source_.ItemOfDownloadFile(tracked);
  const std::string item = downloadItem.value_or(tracked);
  // The client's words, on one line and not a page long.
  std::string reason = EscapedForLine(source_.ErrorText(item));
  if (reason.size() > kLongestFailureReason) {
    std::size_t cut = kLongestFailureReason;
    while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    reason = reason.substr(0, cut) + "...";
  }
  bool upload;
  {
    std::lock_guard lock(transfersLock_);
    upload = !downloadsInProgress_.Contains(tracked);
    transfers_.Remove(tracked);
    if (totalTransfers_.Contains(tracked)) totalTransfers_.Remove(tracked);
    if (failures_.size() >= kMostFailuresKept && failures_.count(item) == 0) failures_.erase(failures_.begin());
    failures_[item] = reason;
  }
  if (source_.DirectionOf(item) == TransferDirection::Receiving) upload = false;
  ReportFailure(item, lastPathComponent(item) + (upload ? " could not be uploaded" : " could not be downloaded") +
                          (reason.empty() ? "." : ": " + reason));
}

void TICloudTracker::ForgetFailureIfRetried(const std::string& path) {
  const std::string item = source_.ItemOfDownloadFile(path).value_or(path);
  bool forgotten = false;
  {
    std::lock_guard lock(transfersLock_);
    forgotten = failures_.erase(item) > 0;
  }
  if (forgotten) SendStatusChanged(false);
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

  // A download reference is never missing while downloads are tracked, nor
  // an item whose folder went away with it still to send.
  if (!exists && !(trackDownloads && reference) && !source_.WaitsForItsFolder(path)) {
    {
      std::lock_guard lock(transfersLock_);
      if (transfers_.Contains(path)) transfers_.Remove(path);
    }
    ResetInactivityTimer();
    return;
  }

  // The client gave up on the item: its transfer ends, failed, not
  // completed (a download may be held under its temporary file).
  if (source_.IsInError(path)) {
    const std::string placeholder = source_.IsDownloadFile(path) ? path : source_.PlaceholderPathOf(path);
    const std::string& tracked = TransfersContain(path) ? path : placeholder;
    if (TransfersContain(tracked)) {
      FailTransfer(tracked);
      ResetInactivityTimer();
      return;
    }
  } else {
    ForgetFailureIfRetried(path);
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
    if (memory_.IsEchoOfCompletion(path, options_.clock->Now(), source_.ContentVersion(path))) {
      ResetInactivityTimer();
      return;
    }
    // The guess above is for sources that cannot tell: one that knows the
    // item went out from here has received nothing. An upload that began
    // and ended between two looks happened all the same: it enters the
    // batch completed, once for its content (a file changed long ago and
    // looked at again for another reason is no new upload).
    if (source_.DirectionOf(path) == TransferDirection::Sending) {
      if (!memory_.CompletedWithThisContent(path, source_.ContentVersion(path)) && ChangedInTheLastMinutes(path)) {
        {
          std::lock_guard lock(transfersLock_);
          batch_.TransferSeen(options_.clock->Now());
          if (!totalTransfers_.Contains(path)) totalTransfers_.Add(path);
        }
        CompleteTransfer(path, path);
        return;
      }
      ResetInactivityTimer();
      return;
    }
    {
      std::lock_guard lock(transfersLock_);
      if (!completedDownloads_.Contains(path)) {
        if (settings->logReceivedDownloads) finishedThisPass_.push_back(path);
        batch_.DownloadReceived(options_.clock->Now());
        completedDownloads_.Add(path);
      }
    }
    ResetInactivityTimer();
    return;
  }

  if (reference && trackDownloads && TransfersContain(path)) {
    // The placeholder is never "missing" (its item may be arriving), but
    // one gone for a while whose item never came ends as a vanished item.
    if (exists || IsAwaitedDownload(path)) {
      memory_.ForgetPlaceholder(path);
    } else if (memory_.IsAbandonedDownload(path, options_.clock->Now())) {
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

  // A download the client waits to begin has no file yet, and is one.
  if (!rules_.PassesFilters(path, *settings) ||
      !(doesFileExist(path) || (reference && trackDownloads && IsAwaitedDownload(path)))) {
    ResetInactivityTimer();
    return;
  }
  const bool download = IsDownloadInProgress(path);
  struct stat st {};
  const bool known = ::lstat(path.c_str(), &st) == 0;
  {
    std::lock_guard lock(transfersLock_);
    batch_.TransferSeen(options_.clock->Now());
    if (known) transferFiles_[path] = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    transfers_.Add(path);
    totalTransfers_.Add(path);
    if (download && !downloadsInProgress_.Contains(path)) downloadsInProgress_.Add(path);
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
  BatchAccounting::Reading reading;
  {
    std::lock_guard lock(transfersLock_);
    reading.inProgress = transfers_.Size();
    reading.completed = completedTransfers_.Size();
    reading.downloads = completedDownloads_.Size();
  }
  // Decided from this one reading: the main thread may change the sets
  // meanwhile (RemoveTransfers, SetExistingTransfers), and a second reading
  // could then hide the end of a batch from the next pass.
  const auto settings = Settings();
  const BatchAccounting::Outcome outcome = batch_.Account(reading, options_.clock->Now());
  if (outcome.reportCounts) SendStatusChanged(false);
  if (outcome.uploadBatchEnded) {
    if (settings->enableLogging) AddSummaryLine(reading.completed, "transferred");
    SaveRecentTransfers();
    SendStatusChanged(true);
  }
  if (outcome.reportDownloads) SendStatusChanged(true);
  // The time is read after the delegate was told, which may have waited.
  if (outcome.downloadsWaiting &&
      batch_.DownloadBatchIsDue(options_.clock->Now(), static_cast<double>(settings->downloadBatchDelay))) {
    if (settings->logReceivedDownloads) AddSummaryLine(reading.downloads, "downloaded");
    // The received items went into the history: kept now, not only when
    // an upload batch ends or Vantorel quits (a crash would lose them).
    SaveRecentTransfers();
    {
      std::lock_guard lock(transfersLock_);
      completedDownloads_.Clear();
      batch_.CloseDownloadBatch(reading.downloads, options_.clock->Now());
    }
    SendStatusChanged(true);
  }
  batch_.EndPass();
}

void TICloudTracker::ResetInactivityTimer() { pacing_.Reset(Settings()->pollingMode); }

void TICloudTracker::HandleNetworkReachabilityChanged(TNotification*) {
  // The notification's status is not trusted: the network is asked afresh.
  reachable_ = GetNetworkReachability() > 0;
  PauseUnlessAllIsReachable();
}

void TICloudTracker::PauseUnlessAllIsReachable() {
  if (!reachable_.load() || sourcePaused_.load()) {
    Pause();
    return;
  }
  ResetInactivityTimer();
  Resume();
}

}  // namespace vantorel
