// The Syncthing source's answers, from the table its threads fill, and
// what it tells the listener when an event or answer changed something.

#include <algorithm>

#include "sources/syncthing/SyncthingSourceImpl.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace syncthing {

namespace {

double WallNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

SyncthingSource::SyncthingSource(SyncthingOptions options) : options_(options), files_(WallNow()) {
  events_ = std::thread([this] { FollowEvents(); });
  requests_ = std::thread([this] { AnswerRequests(); });
}

SyncthingSource::~SyncthingSource() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_.store(true);
  wake_.notify_all();
  events_.join();
  requests_.join();
}

bool SyncthingSource::IsInStore(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.IsInStore(path);
}

bool SyncthingSource::IsTracked(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.IsTracked(path);
}

bool SyncthingSource::IsUploaded(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.IsUploaded(path, SteadyNow());
}

bool SyncthingSource::IsDownloading(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.IsDownloading(path);
}

std::optional<double> SyncthingSource::PercentDone(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.PercentDone(path);
}

std::string SyncthingSource::ErrorText(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.ErrorText(path);
}

bool SyncthingSource::IsInError(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.IsInError(path);
}

TransferDirection SyncthingSource::DirectionOf(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.DirectionOf(path);
}

bool SyncthingSource::IsDownloadFile(std::string_view path) { return IsSyncthingTemporary(path); }

std::optional<std::string> SyncthingSource::ItemOfDownloadFile(std::string_view path) {
  return ItemOfSyncthingTemporary(path);
}

std::string SyncthingSource::PlaceholderPathOf(std::string_view item) { return SyncthingTemporaryOf(item); }

bool SyncthingSource::CanHoldState(const std::string&) { return true; }

void SyncthingSource::DescribeItem(const std::string& path) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    text = files_.DescribeItem(path);
  }
  WriteDiagnosticLine("Syncthing status: " + EscapedForLine(path) + ": " + text);
}

ItemStateSource::Description SyncthingSource::Describe() {
  std::lock_guard lock(mutex_);
  Description description{"Syncthing", connected_, files_.Roots(), {}};
  for (const SyncthingFolder& folder : files_.Folders()) description.labels.push_back(folder.label);
  return description;
}

std::optional<std::string> SyncthingSource::WaitingFor() {
  std::lock_guard lock(mutex_);
  if (!reachable_) return "Waiting: Syncthing is not running.";
  return files_.WaitingFor();
}

bool SyncthingSource::CanPauseSyncing() {
  std::lock_guard lock(mutex_);
  return reachable_ && !files_.Folders().empty();
}

bool SyncthingSource::SyncingPaused() {
  std::lock_guard lock(mutex_);
  return files_.WatchedFoldersPaused();
}

void SyncthingSource::SetWatchedFolder(const std::string& folder) {
  {
    std::lock_guard lock(mutex_);
    files_.SetWatchedFolder(folder);
  }
  Handle({});  // its pause may differ from the folders' before
}

bool SyncthingSource::SetSyncingPaused(bool paused, std::string* problem) {
  std::lock_guard lock(mutex_);
  if (!reachable_) {
    *problem = "Syncthing is not running";
    return false;
  }
  if (files_.Folders().empty()) {
    *problem = "Syncthing has no folders";
    return false;
  }
  pauseWanted_ = paused;
  wake_.notify_all();
  return true;
}

void SyncthingSource::StartPushing(MainLoop& loop, Listener listener) {
  const auto listening = pushes_.Start(loop, std::move(listener));
  std::vector<std::string> roots;
  bool connected;
  bool paused;
  {
    std::lock_guard lock(mutex_);
    roots = files_.Roots();
    connected = connected_;
    paused = paused_;
  }
  // What happened before anyone listened.
  if (listening->rootsChanged && !roots.empty()) listening->rootsChanged(roots);
  if (listening->connectionChanged && !connected) listening->connectionChanged(false);
  if (listening->pausedChanged && paused) listening->pausedChanged(true);
}

void SyncthingSource::Say(const std::string& line) { WriteDiagnosticLine("Syncthing: " + EscapedForLine(line)); }

void SyncthingSource::SayState(const std::string& line) {
  std::lock_guard lock(sayLock_);
  if (stateLines_.ShouldSay(line, SteadyNow())) Say(line);
}

void SyncthingSource::Handle(SyncthingFiles::Effects effects) {
  for (const std::string& line : effects.lines) Say(line);
  std::vector<std::string> roots;
  bool rootsChanged = false;
  std::optional<bool> connectedNow;
  std::optional<bool> pausedNow;
  {
    std::lock_guard lock(mutex_);
    needs_.insert(effects.refreshNeeds.begin(), effects.refreshNeeds.end());
    refreshFolders_ |= effects.refreshFolders;
    refreshConnections_ |= effects.refreshConnections;
    if (!effects.refreshNeeds.empty() || effects.refreshFolders || effects.refreshConnections) wake_.notify_all();
    roots = files_.Roots();
    if (roots != lastRoots_) {
      lastRoots_ = roots;
      rootsChanged = true;
    }
    const bool connected = reachable_ && files_.AnyPeerConnected();
    if (connected != connected_) connectedNow = connected_ = connected;
    const bool paused = files_.WatchedFoldersPaused();
    if (paused != paused_) pausedNow = paused_ = paused;
  }
  if (rootsChanged)
    for (const std::string& root : roots) SayOnce("synchronises " + root + ".");
  if (connectedNow && reachable())
    SayState(*connectedNow ? "another device is connected; transfers are counted."
                           : "no other device of its folders is connected; counting waits.");
  if (pausedNow) Say(*pausedNow ? "the watched folder is paused." : "the watched folder is syncing again.");
  if (!effects.changed.empty())
    Post([changed = std::move(effects.changed)](Listener& listener) {
      if (listener.pathsChanged) listener.pathsChanged(changed);
    });
  if (rootsChanged)
    Post([roots](Listener& listener) {
      if (listener.rootsChanged) listener.rootsChanged(roots);
    });
  if (connectedNow)
    Post([connected = *connectedNow](Listener& listener) {
      if (listener.connectionChanged) listener.connectionChanged(connected);
    });
  if (pausedNow)
    Post([paused = *pausedNow](Listener& listener) {
      if (listener.pausedChanged) listener.pausedChanged(paused);
    });
}

bool SyncthingSource::reachable() {
  std::lock_guard lock(mutex_);
  return reachable_;
}

void SyncthingSource::SayOnce(const std::string& line) {
  std::lock_guard lock(sayLock_);
  if (said_.insert(line).second) Say(line);
}

void SyncthingSource::SetReachable(bool reachable) {
  {
    std::lock_guard lock(mutex_);
    if (reachable_ == reachable) return;
    reachable_ = reachable;
    if (reachable) wake_.notify_all();
  }
  Handle({});
}

}  // namespace syncthing

std::shared_ptr<ItemStateSource> MakeSyncthingSource(SyncthingOptions options) {
  return std::make_shared<syncthing::SyncthingSource>(options);
}

}  // namespace vantorel
