// The Syncthing source's requests thread: asks what the events call for (a
// device's remote need, the folders again, the connections, the record of
// a change that waits long to be indexed) and pauses or resumes folders.

#include <unordered_set>

#include "sources/syncthing/SyncthingMessages.h"
#include "sources/syncthing/SyncthingSourceImpl.h"

namespace vantorel::syncthing {

namespace {

// Names read per page of a device's remote need, and pages at most.
constexpr int kNeedPage = 1000;
constexpr int kMostNeedPages = 1000;

}  // namespace

void SyncthingSource::AnswerRequests() {
  LocalHttp http(stopping_);
  double nextOverdueCheck = SteadyNow() + 1.0;
  for (;;) {
    std::set<std::pair<std::string, std::string>> needs;
    bool folders = false;
    bool connections = false;
    std::optional<bool> pause;
    std::vector<std::pair<std::string, std::string>> overdue;
    LocalEndpoint endpoint;
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

void SyncthingSource::ReadFolders(LocalHttp& http) {
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

void SyncthingSource::ReadConnections(LocalHttp& http) {
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

void SyncthingSource::ReadNeed(LocalHttp& http, const std::string& folder, const std::string& device) {
  std::uint64_t generation;
  std::uint32_t applied;
  bool own;
  {
    std::lock_guard lock(mutex_);
    generation = files_.IndexGeneration();
    applied = files_.EventsApplied();
    own = device == files_.OwnDevice();
  }
  // Another device's need is what it waits for from here (asked only when
  // its completion says it waits at all); this device's own, its pulls.
  std::string query = "folder=" + LocalHttp::Escaped(folder);
  if (!own) {
    query += "&device=" + LocalHttp::Escaped(device);
    const auto completion = http.Request("GET", "/rest/db/completion?" + query, kRequestSeconds);
    const auto needItems = completion.Ok() ? ParseSyncthingNeedItems(completion.body) : std::nullopt;
    if (!needItems) return;
    if (*needItems <= 0) query.clear();
  }
  std::unordered_set<std::string> names;
  for (int page = 1; !query.empty() && page <= kMostNeedPages; ++page) {
    const auto reply = http.Request("GET",
                                    std::string(own ? "/rest/db/need?" : "/rest/db/remoteneed?") + query +
                                        "&page=" + std::to_string(page) + "&perpage=" + std::to_string(kNeedPage),
                                    kRequestSeconds);
    const auto need = reply.Ok() ? ParseSyncthingNeedPage(reply.body) : std::nullopt;
    if (!need) return;  // a half-read list would call files uploaded that are not
    names.insert(need->names.begin(), need->names.end());
    if (static_cast<int>(need->names.size()) < kNeedPage) break;
  }
  SyncthingFiles::Effects effects;
  {
    std::lock_guard lock(mutex_);
    files_.SetNeed(folder, device, std::move(names), generation, effects, applied);
  }
  Handle(std::move(effects));
}

void SyncthingSource::ReadRecord(LocalHttp& http, const std::string& folder, const std::string& relative) {
  const auto reply = http.Request(
      "GET", "/rest/db/file?folder=" + LocalHttp::Escaped(folder) + "&file=" + LocalHttp::Escaped(relative),
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

void SyncthingSource::PauseFolders(LocalHttp& http, bool pause) {
  std::vector<std::string> ids;
  {
    std::lock_guard lock(mutex_);
    // The watched folder's: folders paused on purpose elsewhere stay so.
    for (const SyncthingFolder* folder : files_.WatchedFolders()) ids.push_back(folder->id);
  }
  int failed = 0;
  for (const std::string& id : ids) {
    const auto reply = http.Request("PATCH", "/rest/config/folders/" + LocalHttp::Escaped(id), kRequestSeconds,
                                    pause ? R"({"paused":true})" : R"({"paused":false})");
    if (!reply.Ok()) ++failed;
  }
  if (failed > 0)
    Say("could not " + std::string(pause ? "pause " : "resume ") + std::to_string(failed) + " of its " +
        std::to_string(ids.size()) + " folders.");
  ReadFolders(http);
}

}  // namespace vantorel::syncthing
