#include "sources/syncthing/SyncthingSource.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "sources/SourcePushes.h"
#include "sources/syncthing/SyncthingConfig.h"
#include "sources/syncthing/SyncthingFiles.h"
#include "sources/syncthing/SyncthingHttp.h"
#include "sources/syncthing/SyncthingMessages.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

constexpr double kFirstRetry = 1.0;
constexpr double kLongestRetry = 30.0;
constexpr double kRequestSeconds = 10.0;
// Names read per page of a device's remote need, and pages at most.
constexpr int kNeedPage = 10000;
constexpr int kMostNeedPages = 100;

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double WallNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class SyncthingSource final : public ItemStateSource {
public:
  explicit SyncthingSource(SyncthingOptions options) : options_(options), files_(WallNow()) {
    events_ = std::thread([this] { FollowEvents(); });
    requests_ = std::thread([this] { AnswerRequests(); });
  }

  ~SyncthingSource() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    stopping_.store(true);
    wake_.notify_all();
    events_.join();
    requests_.join();
  }

  // --- questions (any thread) ----------------------------------------------

  bool IsInStore(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.IsInStore(path);
  }
  bool IsTracked(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.IsTracked(path);
  }
  bool IsUploading(const std::string& path) override { return IsTracked(path) && !IsUploaded(path); }
  bool IsUploaded(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.IsUploaded(path, SteadyNow());
  }
  bool IsDownloading(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.IsDownloading(path);
  }
  std::optional<double> PercentDone(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.PercentDone(path);
  }
  bool IsInError(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.IsInError(path);
  }
  TransferDirection DirectionOf(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return files_.DirectionOf(path);
  }
  bool IsDownloadFile(std::string_view path) override { return IsSyncthingTemporary(path); }
  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override {
    return ItemOfSyncthingTemporary(path);
  }
  std::string PlaceholderPathOf(std::string_view item) override { return SyncthingTemporaryOf(item); }
  bool CanHoldState(const std::string&) override { return true; }

  void DescribeItem(const std::string& path) override {
    std::string text;
    {
      std::lock_guard lock(mutex_);
      text = files_.DescribeItem(path);
    }
    WriteDiagnosticLine("Syncthing status: " + EscapedForLine(path) + ": " + text);
  }

  Description Describe() override {
    std::lock_guard lock(mutex_);
    return {"Syncthing", connected_, files_.Roots()};
  }

  bool CanPauseSyncing() override {
    std::lock_guard lock(mutex_);
    return reachable_ && !files_.Folders().empty();
  }
  bool SyncingPaused() override {
    std::lock_guard lock(mutex_);
    return files_.AllFoldersPaused();
  }
  bool SetSyncingPaused(bool paused, std::string* problem) override {
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

  // --- pushes (main thread) ----------------------------------------------------

  void StartPushing(MainLoop& loop, Listener listener) override {
    const auto listening = pushes_.Start(loop, std::move(listener));
    std::vector<std::string> roots;
    bool connected;
    {
      std::lock_guard lock(mutex_);
      roots = files_.Roots();
      connected = connected_;
    }
    // What happened before anyone listened.
    if (listening->rootsChanged && !roots.empty()) listening->rootsChanged(roots);
    if (listening->connectionChanged && !connected) listening->connectionChanged(false);
  }

  void StopPushing() override { pushes_.Stop(); }

private:
  // --- the events thread --------------------------------------------------------

  void Say(const std::string& line) { WriteDiagnosticLine("Syncthing: " + EscapedForLine(line)); }

  // One line per change of state, not per attempt.
  void SayState(const std::string& line) {
    std::lock_guard lock(sayLock_);
    if (line == lastStateLine_) return;
    lastStateLine_ = line;
    Say(line);
  }

  bool Stopped() {
    std::lock_guard lock(mutex_);
    return stop_;
  }

  // Sleeps up to `seconds`; false when the source is going away.
  bool Sleep(double seconds) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stop_; });
    return !stop_;
  }

  void FollowEvents() {
    SyncthingHttp http(stopping_);
    double retry = kFirstRetry;
    bool wasConnected = false;
    while (!Stopped()) {
      std::string problem;
      const auto endpoint = FindSyncthingConfig(&problem);
      if (!endpoint) {
        if (options_.reportAbsence) SayState("waiting for Syncthing: " + problem + ".");
        SetReachable(false);
        if (!Sleep(retry)) return;
        retry = std::min(retry * 2, kLongestRetry);
        continue;
      }
      http.SetEndpoint(*endpoint);
      {
        std::lock_guard lock(mutex_);
        endpoint_ = *endpoint;
      }
      if (!Introduce(http, *endpoint, &problem)) {
        if (options_.reportAbsence || wasConnected) SayState("waiting for Syncthing: " + problem + ".");
        SetReachable(false);
        if (!Sleep(retry)) return;
        retry = std::min(retry * 2, kLongestRetry);
        continue;
      }
      retry = kFirstRetry;
      SayState("following Syncthing at " + endpoint->baseUrl + " (" + endpoint->configPath + ").");
      if (wasConnected) {
        SyncthingFiles::Effects effects;
        {
          std::lock_guard lock(mutex_);
          files_.Reconnected(effects);
        }
        Handle(std::move(effects));
      }
      wasConnected = true;
      SetReachable(true);
      problem = Follow(http);
      if (Stopped()) return;
      SetReachable(false);
      SayState("lost Syncthing (" + problem + "); waiting for it to come back.");
      if (!Sleep(retry)) return;
    }
  }

  // Reads who Syncthing is, its folders and where its filtered stream
  // stands; false with `problem` set when it does not answer as it should.
  bool Introduce(SyncthingHttp& http, const SyncthingEndpoint& endpoint, std::string* problem) {
    const auto status = http.Request("GET", "/rest/system/status", kRequestSeconds);
    if (!status.Ok()) {
      *problem = Why(status, endpoint);
      return false;
    }
    const auto own = ParseSyncthingOwnId(status.body);
    if (!own) {
      *problem = "its status could not be read";
      return false;
    }
    const auto folders = http.Request("GET", "/rest/config/folders", kRequestSeconds);
    auto parsed = folders.Ok() ? ParseSyncthingFolders(folders.body) : std::nullopt;
    if (!parsed) {
      *problem = folders.Ok() ? "its folder list could not be read" : Why(folders, endpoint);
      return false;
    }
    // The stream starts from its newest event: what happened before is
    // read from the folders' state, not replayed.
    const auto last = http.Request(
        "GET", "/rest/events?events=" + SyncthingEventFilter() + "&since=0&limit=1&timeout=0", kRequestSeconds);
    const auto events = last.Ok() ? ParseSyncthingEvents(last.body) : std::nullopt;
    if (!events) {
      *problem = last.Ok() ? "its event stream could not be read" : Why(last, endpoint);
      return false;
    }
    since_ = events->empty() ? 0 : events->back().id;
    SyncthingFiles::Effects effects;
    {
      std::lock_guard lock(mutex_);
      files_.SetOwnDevice(*own);
      files_.SetFolders(std::move(*parsed), effects);
    }
    effects.refreshConnections = true;
    Handle(std::move(effects));
    return true;
  }

  std::string Why(const SyncthingHttp::Reply& reply, const SyncthingEndpoint& endpoint) {
    if (reply.status == 403 || reply.status == 401)
      return "it refused the API key in " + endpoint.configPath + " (HTTP " + std::to_string(reply.status) + ")";
    if (reply.status != 0) return "it answered HTTP " + std::to_string(reply.status);
    return "no answer at " + endpoint.baseUrl + ": " + reply.error;
  }

  // Follows the event stream until Syncthing goes away or refuses; says why.
  std::string Follow(SyncthingHttp& http) {
    const std::string filter = SyncthingEventFilter();
    bool saidMalformed = false;
    while (!Stopped()) {
      const auto reply = http.Request("GET",
                                      "/rest/events?events=" + filter + "&since=" + std::to_string(since_) +
                                          "&timeout=" + std::to_string(static_cast<int>(options_.pollSeconds)),
                                      options_.pollSeconds + kRequestSeconds);
      if (!reply.Ok()) {
        SyncthingEndpoint endpoint;
        {
          std::lock_guard lock(mutex_);
          endpoint = endpoint_;
        }
        return Why(reply, endpoint);
      }
      const auto events = ParseSyncthingEvents(reply.body);
      if (!events) {
        if (!saidMalformed) Say("ignoring an answer of its event stream that is not an event list.");
        saidMalformed = true;
        if (!Sleep(1.0)) break;
        continue;
      }
      // Ids restart from 1 when Syncthing restarts: an id at or below the
      // last one means the stream was reset under us.
      if (!events->empty() && events->front().id <= since_ && since_ > 0) return "its event stream restarted";
      SyncthingFiles::Effects effects;
      {
        std::lock_guard lock(mutex_);
        for (const SyncthingEvent& event : *events) files_.Apply(event, effects);
      }
      if (!events->empty()) since_ = events->back().id;
      Handle(std::move(effects));
    }
    return "stopped";
  }

  // --- the requests thread -------------------------------------------------------

  void AnswerRequests() {
    SyncthingHttp http(stopping_);
    double nextOverdueCheck = SteadyNow() + 1.0;
    for (;;) {
      std::set<std::pair<std::string, std::string>> needs;
      bool folders = false;
      bool connections = false;
      std::optional<bool> pause;
      std::vector<std::pair<std::string, std::string>> overdue;
      SyncthingEndpoint endpoint;
      {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, std::chrono::seconds(1), [this] {
          return stop_ || (reachable_ && (!needs_.empty() || refreshFolders_ || refreshConnections_ || pauseWanted_));
        });
        if (stop_) return;
        if (!reachable_) continue;
        needs.swap(needs_);
        folders = std::exchange(refreshFolders_, false);
        connections = std::exchange(refreshConnections_, false);
        pause = std::exchange(pauseWanted_, std::nullopt);
        if (SteadyNow() >= nextOverdueCheck) {
          overdue = files_.OverdueChanges(SteadyNow(), options_.indexWaitSeconds);
          nextOverdueCheck = SteadyNow() + 1.0;
        }
        endpoint = endpoint_;
      }
      http.SetEndpoint(endpoint);
      if (pause) PauseFolders(http, *pause);
      if (folders) ReadFolders(http);
      if (connections) ReadConnections(http);
      for (const auto& [folder, device] : needs) ReadNeed(http, folder, device);
      for (const auto& [folder, relative] : overdue) ReadRecord(http, folder, relative);
    }
  }

  void ReadFolders(SyncthingHttp& http) {
    const auto reply = http.Request("GET", "/rest/config/folders", kRequestSeconds);
    auto folders = reply.Ok() ? ParseSyncthingFolders(reply.body) : std::nullopt;
    if (!folders) return;  // the events thread notices a Syncthing gone
    SyncthingFiles::Effects effects;
    {
      std::lock_guard lock(mutex_);
      files_.SetFolders(std::move(*folders), effects);
    }
    Handle(std::move(effects));
  }

  void ReadConnections(SyncthingHttp& http) {
    const auto reply = http.Request("GET", "/rest/system/connections", kRequestSeconds);
    const auto connections = reply.Ok() ? ParseSyncthingConnections(reply.body) : std::nullopt;
    if (!connections) return;
    SyncthingFiles::Effects effects;
    {
      std::lock_guard lock(mutex_);
      files_.SetConnections(*connections, effects);
    }
    Handle(std::move(effects));
  }

  void ReadNeed(SyncthingHttp& http, const std::string& folder, const std::string& device) {
    std::uint64_t generation;
    {
      std::lock_guard lock(mutex_);
      generation = files_.IndexGeneration();
    }
    const std::string query = "folder=" + SyncthingHttp::Escaped(folder) + "&device=" + SyncthingHttp::Escaped(device);
    const auto completion = http.Request("GET", "/rest/db/completion?" + query, kRequestSeconds);
    const auto needItems = completion.Ok() ? ParseSyncthingNeedItems(completion.body) : std::nullopt;
    if (!needItems) return;
    std::unordered_set<std::string> names;
    for (int page = 1; *needItems > 0 && page <= kMostNeedPages; ++page) {
      const auto reply =
          http.Request("GET",
                       "/rest/db/remoteneed?" + query + "&page=" + std::to_string(page) +
                           "&perpage=" + std::to_string(kNeedPage),
                       kRequestSeconds);
      const auto need = reply.Ok() ? ParseSyncthingNeedPage(reply.body) : std::nullopt;
      if (!need) return;  // a half-read list would call files uploaded that are not
      names.insert(need->names.begin(), need->names.end());
      if (static_cast<int>(need->names.size()) < kNeedPage) break;
    }
    SyncthingFiles::Effects effects;
    {
      std::lock_guard lock(mutex_);
      files_.SetNeed(folder, device, std::move(names), generation, effects);
    }
    Handle(std::move(effects));
  }

  void ReadRecord(SyncthingHttp& http, const std::string& folder, const std::string& relative) {
    const auto reply = http.Request(
        "GET", "/rest/db/file?folder=" + SyncthingHttp::Escaped(folder) + "&file=" + SyncthingHttp::Escaped(relative),
        kRequestSeconds);
    std::optional<SyncthingFileRecord> record;
    if (reply.Ok()) {
      record = ParseSyncthingFileRecord(reply.body);
      if (!record) return;
    } else if (reply.status != 404) {
      return;
    }
    SyncthingFiles::Effects effects;
    {
      std::lock_guard lock(mutex_);
      for (const SyncthingFolder& known : files_.Folders())
        if (known.id == folder) files_.ApplyRecord(known.path + "/" + relative, record, effects);
    }
    Handle(std::move(effects));
  }

  void PauseFolders(SyncthingHttp& http, bool pause) {
    std::vector<std::string> ids;
    {
      std::lock_guard lock(mutex_);
      for (const SyncthingFolder& folder : files_.Folders()) ids.push_back(folder.id);
    }
    int failed = 0;
    for (const std::string& id : ids) {
      const auto reply = http.Request("PATCH", "/rest/config/folders/" + SyncthingHttp::Escaped(id), kRequestSeconds,
                                      pause ? R"({"paused":true})" : R"({"paused":false})");
      if (!reply.Ok()) ++failed;
    }
    if (failed > 0)
      Say("could not " + std::string(pause ? "pause " : "resume ") + std::to_string(failed) + " of its " +
          std::to_string(ids.size()) + " folders.");
    ReadFolders(http);
  }

  // --- both threads ---------------------------------------------------------------

  // Acts on what an event or answer changed: requests queued for the
  // requests thread, the faces told of paths, roots, connection and pause.
  void Handle(SyncthingFiles::Effects effects) {
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
      const bool paused = files_.AllFoldersPaused();
      if (paused != paused_) pausedNow = paused_ = paused;
    }
    if (rootsChanged)
      for (const std::string& root : roots) SayOnce("synchronises " + root + ".");
    if (connectedNow && reachable())
      SayState(*connectedNow ? "another device is connected; transfers are counted."
                             : "no other device of its folders is connected; counting waits.");
    if (pausedNow) Say(*pausedNow ? "its folders are paused." : "its folders are syncing again.");
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

  bool reachable() {
    std::lock_guard lock(mutex_);
    return reachable_;
  }

  void SayOnce(const std::string& line) {
    std::lock_guard lock(sayLock_);
    if (said_.insert(line).second) Say(line);
  }

  void SetReachable(bool reachable) {
    {
      std::lock_guard lock(mutex_);
      if (reachable_ == reachable) return;
      reachable_ = reachable;
      if (reachable) wake_.notify_all();
    }
    Handle({});
  }

  void Post(std::function<void(Listener&)> call) { pushes_.Post(std::move(call)); }

  const SyncthingOptions options_;
  std::atomic<bool> stopping_{false};  // aborts requests in flight
  std::thread events_;
  std::thread requests_;

  // The events thread's own.
  std::int64_t since_ = 0;

  // Guards the lines said once.
  std::mutex sayLock_;
  std::string lastStateLine_;
  std::set<std::string> said_;

  // Guards everything below; `wake_` waits on it.
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool reachable_ = false;
  bool connected_ = false;
  bool paused_ = false;
  SyncthingEndpoint endpoint_;
  SyncthingFiles files_;
  std::vector<std::string> lastRoots_;
  std::set<std::pair<std::string, std::string>> needs_;
  bool refreshFolders_ = false;
  bool refreshConnections_ = false;
  std::optional<bool> pauseWanted_;
  SourcePushes pushes_;
};

}  // namespace

std::shared_ptr<ItemStateSource> MakeSyncthingSource(SyncthingOptions options) {
  return std::make_shared<SyncthingSource>(options);
}

}  // namespace vantorel
