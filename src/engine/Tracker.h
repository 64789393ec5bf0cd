#pragma once
// TICloudTracker: the one long-lived object that watches the synchronised
// folder and coordinates its parts: the change queue (ChangeQueue), the
// examination of queued paths and transfers in progress on a poll thread of
// its own (asking its ItemStateSource, paced by PollPacing), the transfer
// sets (TransferSets), the batch's bookkeeping (BatchAccounting), the
// history (TransferHistory) and the log (TransferLog); it reports to its
// delegate on the main thread.
//
// Threads and locks:
// - The main thread runs configuration, queries, the change queue, the
//   reachability handler and every delegate message.
// - The poll thread runs PollForStatus and what it calls.
// - The change queue has its lock, held by the poll thread for a whole scan;
//   the main thread only ever tries it.
// - `transfersLock_` guards the transfer sets; the poll thread takes it
//   inside the queue's lock, the main thread never holds both.
// - The history and the log guard themselves; `settingsLock_` guards the
//   settings, of which each pass takes one copy.
// - The scalar state shared by both threads is atomic.
// - Release the tracker on the main thread: teardown cancels the poll thread
//   and waits for it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/BatchAccounting.h"
#include "engine/ChangeQueue.h"
#include "engine/ItemMemory.h"
#include "engine/ItemStateSource.h"
#include "engine/PollPacing.h"
#include "engine/TrackerDelegate.h"
#include "engine/TrackerSettings.h"
#include "engine/TrackerSnapshot.h"
#include "engine/TrackingRules.h"
#include "engine/TrackerClock.h"
#include "engine/TransferHistory.h"
#include "engine/TransferLog.h"
#include "engine/TransferSets.h"
#include "units/prefs/PlistValue.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class DirectoryWatcher;
class TNotification;
class TThread;

class TICloudTracker : public TObject {
public:
  struct Options {
    // Where time comes from and how the poll thread sleeps.
    std::shared_ptr<TrackerClock> clock = std::make_shared<SystemTrackerClock>();
    // Without a poll thread the owner runs passes itself (PollOnce): tests.
    bool startPollThread = true;
    // Coalescing window of the directory watcher, in seconds.
    double watchLatency = 1.0;
    // What the tracker learns of each item's sync state from; the caller
    // chooses it (the engine knows no client), and there is no tracker
    // without one.
    std::shared_ptr<ItemStateSource> source;
    // The settings it starts with (the history is read from there at once).
    TrackerSettings settings;
  };

  explicit TICloudTracker(Options options);

  // --- configuration (main thread) -----------------------------------------
  void SetDelegate(TICloudTrackerDelegate* delegate);
  // New settings, taken from the next pass on (any thread).
  void SetSettings(TrackerSettings settings);
  // The settings in force: during a pass, the copy that pass works from.
  std::shared_ptr<const TrackerSettings> Settings() const;
  // "~" expanded; restarts watching when running. An empty or relative
  // path means no folder: nothing is watched until a folder is set.
  void SetDirectory(const std::string& path);
  // A log file already opened stays the one written to.
  void SetTransferLog(const std::string& path);
  // Hands over the transfers a rescan found; the caller pauses the tracker.
  // With a `scope` (a folder below the watched one, scanned alone), only
  // the transfers below it are replaced; the others stay.
  void SetExistingTransfers(const std::vector<std::string>& paths, const std::string& scope = {});
  // Those of `paths` that the tracking rules let through (hidden items,
  // links, the include and exclude patterns), as for a changed path.
  std::vector<std::string> TrackablePaths(const std::vector<std::string>& paths);
  // Watches the folder, plus Documents and Desktop when they are in the store.
  void Start();
  // Starts again when running; nothing before the first Start.
  void Reload();
  void Pause();
  void Resume();
  bool IsPaused() const { return paused_.load(); }

  // When a transfer last completed before this tracker began (the stored
  // date); the tracker keeps it current from then on.
  void SetLastTransferDate(std::optional<AbsoluteTime> date);

  // --- queries (main thread) ------------------------------------------------
  // Everything a face shows, read at one moment: the counts, the status,
  // the batch's end and time.
  TrackerSnapshot Snapshot() const;
  std::string GetDirectory() const;
  bool IsTransferComplete(const std::string& path) const;
  // The paths in progress, in no defined order; at most `limit` (0: all).
  std::vector<std::string> GetTransfers(std::size_t limit = 0) const;
  // The same, each with whether the tracker counts it as a download.
  std::vector<std::pair<std::string, bool>> GetTransfersWithDirection(std::size_t limit = 0) const;
  std::vector<std::string> GetTotalTransfers() const;
  // Transfers the client gave up on, with its reason ("" when it gave
  // none), by path; each stays until the client tries it again or the
  // user removes it.
  std::map<std::string, std::string> GetFailedTransfers() const;
  // A copy, newest first; nothing when the history is off for this run.
  std::optional<std::vector<std::string>> GetRecentTransfers() const;
  double GetPollInterval() const { return pacing_.Interval(); }
  std::int32_t GetSliceSize() const { return pacing_.SliceSize(); }
  // The folders being watched (empty before Start).
  std::vector<std::string> GetWatchedFolders() const;
  // Paths waiting to be examined, and paths parked while the queue was busy.
  int GetQueueSize() const { return queue_.Size(); }
  int GetPendingQueueSize() const { return queue_.PendingSize(); }
  // Whether changed paths wait to be examined (queued, parked, or a scan of
  // the queue is running): until they are, "no transfers" may not be the
  // whole story. Never waits for the poll thread.
  // Main thread: a change seen or on its way from the watcher is not examined yet.
  bool HasUnexaminedPaths() const;
  const DirectoryWatcher* GetEventStream() const { return eventStream_.get(); }
  // Where item state comes from (scans and faces ask it too).
  const std::shared_ptr<ItemStateSource>& GetItemSource() const { return options_.source; }
  // Holds the queue's lock as a poll-thread scan does (for tests).
  std::unique_lock<std::mutex> LockQueueForTesting() const { return queue_.LockForTesting(); }

  // --- transfers and history (main thread) ----------------------------------
  // Out of the batch, and out of the failed transfers.
  void RemoveTransfers(const std::vector<std::string>& paths);
  void CleanRecentTransfers();
  // Forgets every recent transfer, in memory and in the history file (so
  // that the next finished batch does not write the old entries back).
  // False when the file could not be written.
  bool ClearRecentTransfers();

  // --- change queue (main thread) ------------------------------------------
  void QueueFile(const std::string& path) { queue_.Add(path); }
  // A plain absolute path inside the source's roots or the folders watched.
  bool IsWatchedPath(const std::string& path) const;
  void MergePendingQueue() { queue_.MergePending(); }

  // --- polling (poll thread) -------------------------------------------------
  // The poll thread's body: passes until the thread is cancelled.
  void PollForStatus();
  // One pass (without its closing sleep); tests run passes with this.
  void PollOnce();
  void ResetInactivityTimer();
  void HandleNetworkReachabilityChanged(TNotification* notification);
  // Examines one path and moves it between the transfer sets.
  void CheckStatus(const std::string& path);
  // Compares the sets with what was reported last and tells the delegate.
  void UpdateTransferStatus();

  // --- history and log (poll thread) ---------------------------------------
  void AddTransferFinishedEntry(const std::string& path);
  // The log line of a finished transfer (when logging is on).
  void LogFinished(const std::string& path);
  // The log line of a failed one, and the delegate told (once per failure).
  void ReportFailure(const std::string& path, const std::string& sentence);
  // The transfers that finished in this pass, into the history and the
  // log in the order of their names (poll thread, at the end of a pass).
  void RecordFinishedOfThisPass();
  void AddLogEntry(const std::string& text);
  // Empties the log when it reached "ClearLogAfterSize" mebibytes.
  void CheckLogSize();
  // Writes the history file; false (and the line) when it cannot.
  bool SaveRecentTransfers();

  // --- diagnostics -------------------------------------------------------------
  void AddDebuggingEntry(const PlistValue& value, const std::string& key);
  void AddDebuggingEntry(const std::string& text);
  void HandleDebugInfo(const PlistValue::Dictionary* info);

  // Stops polling and watching and saves the history, once; Deallocate does
  // it too. Call on the main thread.
  void Shutdown();

protected:
  void Deallocate() override;

private:
  struct DelegateChannel;

  void MonitorDirectories(const std::vector<std::string>& folders);
  // Hears the item-state source's pushes from the first Start to Shutdown.
  void StartListeningToSource();
  // Tracking runs while the network is there and the sync client is not
  // paused (an absent client does not stop it); each change of either, or
  // of the client's presence, starts the polling pace afresh. Main thread.
  void PauseUnlessAllIsReachable();
  // Whether a path taken into the transfers is coming in: a download's
  // temporary file or placeholder, or an item its source says it receives.
  bool IsDownloadInProgress(const std::string& path);
  // A placeholder with no file yet whose item the client says is coming
  // (a pull it has queued): not missing, not abandoned.
  bool IsAwaitedDownload(const std::string& placeholder);
  // The file's content changed within the last ten minutes (wall clock).
  static bool ChangedInTheLastMinutes(const std::string& path);
  void DirectoryChangedCallback(const std::vector<std::string>& paths);
  // Ends at once the transfers of reported paths that are gone, and of
  // everything below a folder that is gone; a file in progress renamed
  // within the folder (the same file under a path reported with it) goes on
  // under its new name, counted once. Main thread.
  void DropVanishedTransfers(const std::vector<std::string>& paths);
  // Takes transfersLock_: ends the gone transfers, or renames those whose
  // file is `there` under another path; true when one was renamed.
  bool EndOrRenameGoneTransfers(
      const std::unordered_set<std::string_view>& gone,
      const std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*>& there);
  // Under transfersLock_: the transfer held under `from` is held under `to`.
  void RenameTransferLocked(const std::string& from, const std::string& to);
  void ScanQueue();
  // Re-examines the pass's slice of the transfers in progress.
  void PollSlice();
  bool TransfersContain(const std::string& path) const;
  // A transfer held under `tracked` (the item, or its placeholder) has
  // finished: `item` goes to the history, the log and the completed set.
  void CompleteTransfer(const std::string& tracked, const std::string& item);
  // An item entered or left the transfers under its own path: its
  // placeholder, if tracked, leaves them too. Under transfersLock_.
  void DropPlaceholderOfLocked(const std::string& item);
  void AddSummaryLine(int count, const char* what);
  // Tells the delegate on the main thread; with `wait`, returns once it has
  // been told (or the tracker or the main loop is going away).
  void SendStatusChanged(bool wait);
  // Tells the delegate on the main thread, without waiting.
  void TellDelegate(std::function<void(TICloudTrackerDelegate&, TICloudTracker*)> message);
  // The transfer held under `path` ended failed: out of the batch, into the
  // failed transfers (under transfersLock_ it takes itself).
  void FailTransfer(const std::string& path);
  // An item in the failed transfers that the client no longer holds in
  // error was tried again: it leaves them.
  void ForgetFailureIfRetried(const std::string& path);
  void LoadRecentTransfers();

  const Options options_;
  // The source's questions are asked on every thread that examines paths.
  ItemStateSource& source_ = *options_.source;
  TrackingRules rules_{source_};

  // The transfer sets share one table, guarded by transfersLock_ (the
  // polled set is the poll thread's, but lives in the same table).
  TransferSets sets_;
  TransferSets::Set transfers_ = sets_.Get(TransferSets::kTransfers);
  TransferSets::Set totalTransfers_ = sets_.Get(TransferSets::kTotalTransfers);
  TransferSets::Set completedTransfers_ = sets_.Get(TransferSets::kCompletedTransfers);
  TransferSets::Set completedDownloads_ = sets_.Get(TransferSets::kCompletedDownloads);
  TransferSets::Set polledTransfers_ = sets_.Get(TransferSets::kPolledTransfers);
  TransferSets::Set downloadsInProgress_ = sets_.Get(TransferSets::kDownloadsInProgress);
  // Which file each transfer in progress is (device and inode, as first
  // examined), to know it again under a new name. Guarded by
  // transfersLock_; entries of paths no longer in progress are pruned.
  std::unordered_map<std::string, std::pair<std::uint64_t, std::uint64_t>> transferFiles_;
  ChangeQueue queue_;
  // The poll thread's own: transfers finished in the pass running.
  std::vector<std::string> finishedThisPass_;
  // Failed transfers and the client's reason, guarded by transfersLock_;
  // at most kMostFailuresKept (the oldest failures are not what a user
  // scrolls for).
  std::map<std::string, std::string> failures_;
  // Guarded by configLock_ (the poll thread reads it for log entries).
  std::string directory_;
  // Main thread only.
  std::unique_ptr<DirectoryWatcher> eventStream_;
  std::vector<std::string> watchedFolders_;
  bool listeningToSource_ = false;
  std::vector<std::string> sourceRoots_;  // the folders the source synchronises
  std::set<std::string> refusedRootsSaid_;  // roots of the source's not watched, said once
  // Start has run (and watching was not given up): Reload starts again.
  bool started_ = false;
  BatchAccounting batch_;
  PollPacing pacing_;
  std::atomic<bool> paused_{false};
  std::atomic<bool> reachable_{true};
  std::atomic<bool> sourceConnected_{true};  // the item-state source reaches its client
  std::atomic<bool> sourcePaused_{false};    // the sync client was paused (by the user)
  std::shared_ptr<DelegateChannel> delegate_;
  // Kept so that teardown can wait for the thread to end.
  TRef<TThread> pollThread_;
  // While a pass runs on a thread, every question it asks reads the one
  // copy of the settings this holds, however often they change meanwhile.
  class PassSettingsScope;
  // Guards settings_; a pass takes its copy once, at its start.
  mutable std::mutex settingsLock_;
  std::shared_ptr<const TrackerSettings> settings_;
  mutable std::mutex transfersLock_;
  TransferHistory history_;
  TransferLog transferLog_;
  // Guards directory_ (the main thread sets it, the poll thread reads it).
  mutable std::mutex configLock_;
  ItemMemory memory_;  // the poll thread's
  bool shutDown_ = false;
};

}  // namespace vantorel
