// The Syncthing source's events thread: finds Syncthing through its
// config.xml (again after it stops, restarts or changes its key, with
// backoff), reads who it is and its folders, and follows the filtered
// event long-poll into the table.

#include <algorithm>

#include "sources/syncthing/SyncthingMessages.h"
#include "sources/syncthing/SyncthingSourceImpl.h"

namespace vantorel::syncthing {

namespace {

// Backoff between attempts to reach Syncthing, in seconds.
constexpr double kFirstRetry = 1.0;
constexpr double kLongestRetry = 30.0;
// While Syncthing does not answer at all, it is looked for at least this
// often: found within about 2 s of starting. Asking a local address that
// refuses costs next to nothing.
constexpr double kLongestAbsentRetry = 2.0;
// A connection that ended sooner than this (a stream that keeps restarting)
// does not reset the backoff.
constexpr double kSteadyConnection = 30.0;
// Events asked for per page: a flood arrives in pieces of this size.
constexpr int kEventsPerPage = 1000;

}  // namespace

bool SyncthingSource::Stopped() {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool SyncthingSource::Sleep(double seconds) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stop_; });
  return !stop_;
}

void SyncthingSource::FollowEvents() {
  LocalHttp http(stopping_);
  double retry = kFirstRetry;
  bool wasConnected = false;
  while (!Stopped()) {
    std::string problem;
    const auto endpoint = FindSyncthingConfig(&problem);
    if (!endpoint) {
      if (options_.reportAbsence) SayState("waiting for Syncthing: " + problem + ".");
      SetReachable(false);
      if (!Sleep(retry)) return;
      retry = std::min(retry * 2, std::max(kLongestAbsentRetry, retry));
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
      retry = std::min(retry * 2, std::max(kLongestAbsentRetry, retry));
      continue;
    }
    const double connectedAt = SteadyNow();
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
    retry = SteadyNow() - connectedAt < kSteadyConnection ? std::min(retry * 2, kLongestRetry) : kFirstRetry;
    if (!Sleep(retry)) return;
  }
}

bool SyncthingSource::Introduce(LocalHttp& http, const LocalEndpoint& endpoint, std::string* problem) {
  const auto status = http.Request("GET", "/rest/system/status", kRequestSeconds);
  if (!status.Ok()) {
    *problem = Why(status, endpoint);
    return false;
  }
  if (status.servedByRoot)
    SayOnce("its API at " + (endpoint.unixSocket.empty() ? endpoint.baseUrl : endpoint.unixSocket) +
            " is served by a program of root's, taken as Syncthing running as a system service for this user.");
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

std::string SyncthingSource::Why(const LocalHttp::Reply& reply, const LocalEndpoint& endpoint) {
  if (reply.status == 403 || reply.status == 401)
    return "it refused the API key in " + endpoint.configPath + " (HTTP " + std::to_string(reply.status) + ")";
  if (reply.status != 0) return "it answered HTTP " + std::to_string(reply.status);
  if (reply.strangerListens) return reply.error;
  return "no answer at " + endpoint.baseUrl + ": " + reply.error;
}

std::string SyncthingSource::Follow(LocalHttp& http) {
  const std::string filter = SyncthingEventFilter();
  bool saidMalformed = false;
  while (!Stopped()) {
    const auto reply = http.Request("GET",
                                    "/rest/events?events=" + filter + "&since=" + std::to_string(since_) +
                                        "&limit=" + std::to_string(kEventsPerPage) +
                                        "&timeout=" + std::to_string(static_cast<int>(options_.pollSeconds)),
                                    options_.pollSeconds + kRequestSeconds);
    if (!reply.Ok()) {
      LocalEndpoint endpoint;
      {
        std::lock_guard lock(mutex_);
        endpoint = endpoint_;
      }
      return Why(reply, endpoint);
    }
    const auto events = ParseSyncthingEvents(reply.body, kEventsPerPage);
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
    // The filtered stream's ids follow one another. A page that starts
    // further on is the newest part of more than a page (Syncthing answers
    // a limit with the last events, and keeps only so many): what was
    // missed is read again, as after a reconnection.
    if (!events->empty() && since_ > 0 && events->front().id > since_ + 1) {
      SayOnce("more events came at once than it keeps or sends in a page; what was missed is read again.");
      std::lock_guard lock(mutex_);
      files_.Reconnected(effects);
    }
    for (const SyncthingEvent& event : *events) {
      // One event at a time: the main thread's questions wait for one
      // event at most, never for a whole page.
      std::lock_guard lock(mutex_);
      files_.Apply(event, effects);
    }
    if (!events->empty()) since_ = events->back().id;
    Handle(std::move(effects));
  }
  return "stopped";
}

}  // namespace vantorel::syncthing
