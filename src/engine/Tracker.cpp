#include "engine/Tracker.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "units/fs/DirectoryWatcher.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/net/NetworkReachability.h"
#include "units/fs/OwnFiles.h"
#include "units/fs/PathSafety.h"
#include "units/fs/PathUtilities.h"
#include "units/text/DateUtilities.h"
#include "units/text/LineText.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TThread.h"
#include "units/runtime/TTimer.h"
#include "units/fs/UserFolders.h"

namespace vantorel {

namespace {
// Transfers whose percentages a reading adds up; past them the rest count
// by their number alone (a reading stays cheap however many there are).
constexpr std::size_t kMostPercentagesSummed = 1000;
}  // namespace

// Shared with the messages posted to the main loop, which may run after the
// tracker has gone: `closed` turns them into nothing.
struct TICloudTracker::DelegateChannel {
  std::mutex mutex;  // guards the fields below
  std::condition_variable changed;
  TICloudTrackerDelegate* delegate = nullptr;
  // Valid until closed: the tracker closes the channel before it goes.
  TICloudTracker* tracker = nullptr;
  bool closed = false;
};

namespace {
TICloudTracker::Options WithSource(TICloudTracker::Options options) {
  if (!options.source) throw std::invalid_argument("a tracker needs an item-state source");
  return options;
}
}  // namespace

TICloudTracker::TICloudTracker(Options options)
    : options_(WithSource(std::move(options))),
      delegate_(std::make_shared<DelegateChannel>()),
      settings_(std::make_shared<const TrackerSettings>(options_.settings)) {
  delegate_->tracker = this;
  reachable_ = GetNetworkReachability() > 0;
  LoadRecentTransfers();
  if (options_.startPollThread) {
    // The thread does not own the tracker: teardown stops it and waits.
    pollThread_ = TThread::Create([this] { PollForStatus(); });
    pollThread_->Start();
  }
  ResetInactivityTimer();
  TNotificationCenter::DefaultCenter()->ObserveNotification(this, SCNetworkReachabilityChangedNotification,
                                                            &TICloudTracker::HandleNetworkReachabilityChanged);
}

void TICloudTracker::SetSettings(TrackerSettings settings) {
  auto fresh = std::make_shared<const TrackerSettings>(std::move(settings));
  std::lock_guard lock(settingsLock_);
  settings_ = std::move(fresh);
}

void TICloudTracker::SetDelegate(TICloudTrackerDelegate* delegate) {
  std::lock_guard lock(delegate_->mutex);
  delegate_->delegate = delegate;
}

void TICloudTracker::SetDirectory(const std::string& path) {
  const auto folder = folderSettingPath(path);
  if (!folder) {
    // Taken as it stands, it would mean the current folder: often the whole
    // home folder, hundreds of thousands of watches.
    WriteDiagnosticLine(path.empty() ? std::string("No folder to watch is stored; nothing is tracked until one is.")
                                     : "The folder to watch \"" + path +
                                           "\" is not an absolute path; nothing is tracked until a folder is stored.");
  }
  {
    std::lock_guard lock(configLock_);
    directory_ = folder.value_or("");
  }
  source_.SetWatchedFolder(folder.value_or(""));
  Reload();
}

void TICloudTracker::SetTransferLog(const std::string& path) { transferLog_.SetPath(path); }

void TICloudTracker::SetExistingTransfers(const std::vector<std::string>& paths, const std::string& scope) {
  batch_.Restart(options_.clock->Now());
  // Asked before the lock: the source may take locks of its own.
  std::vector<bool> downloads;
  downloads.reserve(paths.size());
  for (const std::string& path : paths) downloads.push_back(IsDownloadInProgress(path));
  std::lock_guard lock(transfersLock_);
  if (scope.empty()) {
    transfers_.Clear();
    totalTransfers_.Clear();
  } else {
    // A scan of one folder knows nothing of the transfers elsewhere: only
    // those below it are replaced by what it found.
    std::string prefix = scope;
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    if (prefix != "/") prefix += '/';
    std::vector<std::string> below;
    transfers_.ForEach([&](const std::string& path) {
      if (path.compare(0, prefix.size(), prefix) == 0) below.push_back(path);
      return true;
    });
    for (const std::string& path : below) {
      transfers_.Remove(path);
      if (totalTransfers_.Contains(path)) totalTransfers_.Remove(path);
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    if (!scope.empty() && transfers_.Contains(path)) continue;
    transfers_.Add(path);
    totalTransfers_.Add(path);
    if (downloads[i] && !downloadsInProgress_.Contains(path)) downloadsInProgress_.Add(path);
  }
}

bool TICloudTracker::IsDownloadInProgress(const std::string& path) {
  return source_.IsDownloadFile(path) || source_.DirectionOf(path) == TransferDirection::Receiving;
}

void TICloudTracker::Start() {
  StartListeningToSource();
  const std::string directory = GetDirectory();
  if (directory.empty()) {
    // No folder: no watch at all, until SetDirectory brings one.
    eventStream_.reset();
    watchedFolders_.clear();
    started_ = true;
    return;
  }
  if (!source_.CanHoldState(directory))
    WriteDiagnosticLine("The folder " + directory +
                        " is on a file system without user extended attributes: the sync state of its items cannot "
                        "be read there, so nothing in it will ever read as uploaded.");
  std::vector<std::string> folders{directory};
  // The user's Documents and Desktop are watched when the store keeps them,
  // and the folders the sync client says it synchronises.
  for (const std::string& folder : {DocumentsFolder(), DesktopFolder()})
    if (source_.IsInStore(folder)) folders.push_back(folder);
  for (const std::string& root : sourceRoots_)
    if (std::find(folders.begin(), folders.end(), root) == folders.end()) folders.push_back(root);
  MonitorDirectories(folders);
}

void TICloudTracker::StartListeningToSource() {
  if (listeningToSource_ || MainLoop::Main() == nullptr) return;
  listeningToSource_ = true;
  ItemStateSource::Listener listener;
  // A state change that touched no file is examined like a file event.
  // A client may lie: nothing outside the folders watched is taken from it.
  // The client's word is news: the poll thread acts on it now, not after
  // its paced sleep (which is for quiet polling).
  listener.pathsChanged = [this](const std::vector<std::string>& paths) {
    bool queued = false;
    for (const std::string& path : paths)
      if (IsWatchedPath(path)) {
        QueueFile(path);
        queued = true;
      }
    if (queued && pollThread_) pollThread_->Nudge();
  };
  listener.rootsChanged = [this](const std::vector<std::string>& roots) {
    std::vector<std::string> accepted;
    for (const std::string& root : roots) {
      if (const auto why = WhyNotASyncRoot(root)) {
        if (refusedRootsSaid_.insert(root).second)
          WriteDiagnosticLine("Not watching " + EscapedForLine(root) +
                              ", which the sync client gave as a folder it synchronises: " + *why + ".");
        continue;
      }
      accepted.push_back(root);
    }
    if (accepted == sourceRoots_) return;
    sourceRoots_ = std::move(accepted);
    Reload();
  };
  // Without its client nothing moves, but tracking goes on: what changes
  // meanwhile is what the client will have to send when it is back, and is
  // shown as waiting for it; the source answers from what it last knew.
  listener.connectionChanged = [this](bool connected) {
    sourceConnected_ = connected;
    PauseUnlessAllIsReachable();
    SendStatusChanged(false);  // the faces show it
  };
  // A paused client moves nothing: tracking waits for it too.
  listener.pausedChanged = [this](bool paused) {
    sourcePaused_ = paused;
    PauseUnlessAllIsReachable();
    SendStatusChanged(false);
  };
  listener.notice = [this](const std::string& text) {
    if (transferLog_.Path() && Settings()->enableLogging)
      AddLogEntry("[" + shortDateString(options_.clock->Now(), false) + "] " + EscapedForLine(text));
    TellDelegate([text](TICloudTrackerDelegate& delegate, TICloudTracker* tracker) {
      delegate.trackerSourceNotice(tracker, text);
    });
  };
  source_.StartPushing(*MainLoop::Main(), std::move(listener));
}

void TICloudTracker::Reload() {
  if (started_) Start();
}

void TICloudTracker::Pause() { paused_ = true; }

void TICloudTracker::Resume() { paused_ = false; }

void TICloudTracker::SetLastTransferDate(std::optional<AbsoluteTime> date) { batch_.SetLastTransferDate(date); }

TrackerSnapshot TICloudTracker::Snapshot() const {
  TrackerSnapshot snapshot;
  std::vector<std::string> moving;
  {
    // The batch's end is flagged, and its sets emptied, under this lock.
    std::lock_guard lock(transfersLock_);
    snapshot.inProgress = transfers_.Size();
    snapshot.downloadsInProgress = downloadsInProgress_.Size();
    snapshot.completed = completedTransfers_.Size();
    snapshot.total = totalTransfers_.Size();
    snapshot.completedDownloads = completedDownloads_.Size();
    snapshot.failed = static_cast<std::int32_t>(failures_.size());
    snapshot.finished = batch_.Finished();
    snapshot.elapsedTime = batch_.ElapsedTime();
    snapshot.previousCompletedDownloads = batch_.PreviousCompletedDownloads();
    moving = transfers_.Paths(kMostPercentagesSummed);
  }
  // Asked outside the lock: the source has its own.
  for (const std::string& path : moving) {
    if (const auto percent = options_.source->PercentOfTransfer(path)) snapshot.inProgressDone += std::clamp(*percent, 0.0, 100.0) / 100.0;
  }
  if (snapshot.inProgress > 0) snapshot.waitingFor = options_.source->WaitingFor().value_or("");
  snapshot.status = snapshot.inProgress > 0           ? TrackerSnapshot::Status::Transferring
                    : snapshot.completedDownloads > 0 ? TrackerSnapshot::Status::ReceivedDownloads
                                                      : TrackerSnapshot::Status::Idle;
  snapshot.paused = paused_.load();
  snapshot.reachable = reachable_.load() && sourceConnected_.load();
  snapshot.syncingPaused = sourcePaused_.load();
  snapshot.lastTransfer = batch_.LastTransferDate();
  return snapshot;
}

std::string TICloudTracker::GetDirectory() const {
  std::lock_guard lock(configLock_);
  return directory_;
}

bool TICloudTracker::IsTransferComplete(const std::string& path) const {
  std::lock_guard lock(transfersLock_);
  return completedTransfers_.Contains(path);
}

std::vector<std::string> TICloudTracker::GetTransfers(std::size_t limit) const {
  std::lock_guard lock(transfersLock_);
  return transfers_.Paths(limit);
}

std::vector<std::pair<std::string, bool>> TICloudTracker::GetTransfersWithDirection(std::size_t limit) const {
  std::lock_guard lock(transfersLock_);
  std::vector<std::pair<std::string, bool>> transfers;
  for (std::string& path : transfers_.Paths(limit)) {
    const bool download = downloadsInProgress_.Contains(path);
    transfers.emplace_back(std::move(path), download);
  }
  return transfers;
}

std::vector<std::string> TICloudTracker::GetTotalTransfers() const {
  std::lock_guard lock(transfersLock_);
  return totalTransfers_.Paths();
}

std::vector<std::string> TICloudTracker::GetWatchedFolders() const { return watchedFolders_; }

std::map<std::string, std::string> TICloudTracker::GetFailedTransfers() const {
  std::lock_guard lock(transfersLock_);
  return failures_;
}

namespace {
// A call that tells the channel's delegate `message`, or nothing once the
// channel is closed. Run on the main thread, where Shutdown closes it: the
// tracker cannot go while the delegate is told.
template <typename Channel>
std::function<void()> Delivery(std::shared_ptr<Channel> channel,
                               std::function<void(TICloudTrackerDelegate&, TICloudTracker*)> message) {
  return [channel = std::move(channel), message = std::move(message)] {
    TICloudTrackerDelegate* delegate;
    TICloudTracker* tracker;
    {
      std::lock_guard lock(channel->mutex);
      if (channel->closed) return;
      delegate = channel->delegate;
      tracker = channel->tracker;
    }
    if (delegate) message(*delegate, tracker);
  };
}
}  // namespace

void TICloudTracker::TellDelegate(std::function<void(TICloudTrackerDelegate&, TICloudTracker*)> message) {
  const auto deliver = Delivery(delegate_, std::move(message));
  if (MainLoop* loop = MainLoop::Main())
    loop->Post(deliver);
  else
    deliver();
}

void TICloudTracker::SendStatusChanged(bool wait) {
  const std::shared_ptr<DelegateChannel> channel = delegate_;
  const auto deliver = Delivery(channel, [](TICloudTrackerDelegate& delegate, TICloudTracker* tracker) {
    delegate.trackerStatusChanged(tracker);
  });
  MainLoop* loop = MainLoop::Main();
  if (loop == nullptr || (wait && loop->IsMainThread())) {
    deliver();
    return;
  }
  if (!wait) {
    loop->Post(deliver);
    return;
  }
  // Waits for the handler, but never for a tracker or a main loop that is
  // going away.
  auto done = std::make_shared<bool>(false);  // guarded by channel->mutex
  loop->Post([channel, done, deliver] {
    deliver();
    std::lock_guard lock(channel->mutex);
    *done = true;
    channel->changed.notify_all();
  });
  std::unique_lock lock(channel->mutex);
  while (!*done && !channel->closed && !loop->IsStopping())
    channel->changed.wait_for(lock, std::chrono::milliseconds(100));
}

void TICloudTracker::AddDebuggingEntry(const PlistValue& value, const std::string& key) {
  PlistValue::Dictionary info{{key, value}, {"transfers", PlistValue(static_cast<std::int64_t>(Snapshot().inProgress))}};
  TThread::RunOnMainThread([this, &info] { HandleDebugInfo(&info); });
}

void TICloudTracker::AddDebuggingEntry(const std::string& text) { AddDebuggingEntry(PlistValue(text), "entry"); }

void TICloudTracker::HandleDebugInfo(const PlistValue::Dictionary* info) {
  TICloudTrackerDelegate* delegate;
  {
    std::lock_guard lock(delegate_->mutex);
    if (delegate_->closed) return;
    delegate = delegate_->delegate;
  }
  if (delegate) delegate->trackerDebugInfo(this, *info);
}

void TICloudTracker::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  {
    std::lock_guard lock(delegate_->mutex);
    delegate_->closed = true;  // also releases a poll thread waiting on a message
  }
  delegate_->changed.notify_all();
  queue_.Stop();
  if (listeningToSource_) source_.StopPushing();
  listeningToSource_ = false;
  eventStream_.reset();
  TNotificationCenter::DefaultCenter()->RemoveEveryObserver(this);
  if (pollThread_) {
    pollThread_->Cancel();
    // A pass in progress runs to its end; the sleep after it ends at once.
    while (!pollThread_->WaitUntilFinished(10))
      WriteDiagnosticLine("Waiting for the tracker's poll thread to finish its pass...");
  }
  // History entries made since the last finished batch would be lost otherwise.
  SaveRecentTransfers();
  transferLog_.Close();
}

void TICloudTracker::Deallocate() {
  Shutdown();
  TObject::Deallocate();
}

}  // namespace vantorel
