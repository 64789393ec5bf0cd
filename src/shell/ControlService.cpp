#include "shell/ControlService.h"

#include "engine/Tracker.h"
#include "shell/AppController.h"
#include "shell/ControlRequest.h"
#include "shell/StatusLine.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/net/NetworkReachability.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/text/DateUtilities.h"
#include "units/text/JsonText.h"
#include "units/text/LineText.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
constexpr std::size_t kRecentInStatus = 10;
// Waiters are also looked at this often, in case a change went unreported.
constexpr double kWaiterCheckInterval = 1.0;
constexpr double kFollowRefreshInterval = 1.0;
const char* const kNoWindows = "error this Vantorel runs on the terminal: it has no popover or windows";
const char* const kStillStarting = "error Vantorel is still starting: a window of its launch waits for an answer";

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + JsonQuoted(items[i]);
  return out + "]";
}
}  // namespace

ControlService::ControlService(TAppController& controller, ControlSocket& socket)
    : controller_(controller), socket_(socket) {
  socket_.SetClosedHandler([this](ControlSocket::ConnectionId id) { Closed(id); });
  controller_.SetStatusListener([this] { StatusChanged(); });
  socket_.Serve(*MainLoop::Main(), [this](ControlSocket::ConnectionId id, const std::string& line) { Request(id, line); });
}

ControlService::~ControlService() {
  socket_.SetClosedHandler(nullptr);
  socket_.StopServing();
  controller_.SetStatusListener(nullptr);
  if (waiterTimerSet_) MainLoop::Main()->CancelTimer(waiterTimer_);
  if (followTimerSet_) MainLoop::Main()->CancelTimer(followTimer_);
}

std::string ControlService::StatusLine() const {
  const TICloudTracker* tracker = controller_.GetTracker();
  if (tracker == nullptr) return "Starting...";
  return StatusLineText(tracker->Snapshot(), CurrentAbsoluteTime());
}

std::string ControlService::StatusJson() const {
  const TICloudTracker* t = controller_.GetTracker();
  if (t == nullptr) return "{\"status\":0,\"starting\":true}";
  // One reading: the line and the counts agree.
  const TrackerSnapshot s = t->Snapshot();
  const auto last = s.lastTransfer;
  std::vector<std::string> recent = t->GetRecentTransfers().value_or(std::vector<std::string>{});
  if (recent.size() > kRecentInStatus) recent.resize(kRecentInStatus);
  std::string out = "{";
  out += "\"status\":" + std::to_string(s.StatusCode());
  out += ",\"statusLine\":" + JsonQuoted(StatusLineText(s, CurrentAbsoluteTime()));
  out += ",\"transfers\":" + std::to_string(s.inProgress);
  out += ",\"completed\":" + std::to_string(s.completed);
  out += ",\"total\":" + std::to_string(s.total);
  out += ",\"completedDownloads\":" + std::to_string(s.completedDownloads);
  out += std::string(",\"paused\":") + (s.paused ? "true" : "false");
  out += std::string(",\"network\":") + (GetNetworkReachability() != 0 ? "true" : "false");
  out += ",\"folders\":" + JsonList(t->GetWatchedFolders());
  out += ",\"lastTransfer\":" + (last ? JsonQuoted(iso8601String(*last)) : std::string("null"));
  out += ",\"recent\":" + JsonList(recent);
  // What is in progress: the item (never a client's temporary file), which
  // way it goes, and how far it came where the client says.
  const auto& itemSource = t->GetItemSource();
  out += ",\"inProgress\":[";
  bool first = true;
  for (const auto& [path, counted] : t->GetTransfersWithDirection(kRecentInStatus)) {
    const auto item = itemSource->ItemOfDownloadFile(path);
    const std::string& name = item ? *item : path;
    const std::optional<double> percent = itemSource->PercentOfTransfer(path);
    const TransferDirection way = itemSource->DirectionOf(name);
    const bool download = way == TransferDirection::Receiving || (way == TransferDirection::Unknown && (counted || item));
    out += std::string(first ? "" : ",") + "{\"path\":" + JsonQuoted(name) + ",\"direction\":\"" +
           (download ? "download" : "upload") +
           "\",\"percent\":" + (percent ? std::to_string(static_cast<int>(*percent)) : std::string("null")) + "}";
    first = false;
  }
  out += "]";
  // What the client gave up on, with its words, until retried or removed.
  out += ",\"failed\":[";
  first = true;
  std::size_t listed = 0;
  for (const auto& [path, reason] : t->GetFailedTransfers()) {
    if (listed++ == kRecentInStatus) break;
    out += std::string(first ? "" : ",") + "{\"path\":" + JsonQuoted(path) +
           ",\"reason\":" + (reason.empty() ? std::string("null") : JsonQuoted(reason)) + "}";
    first = false;
  }
  out += "]";
  out += std::string(",\"syncingPaused\":") + (s.syncingPaused ? "true" : "false");
  // Nothing waits to be uploaded (downloads do not keep anything back).
  out += std::string(",\"safeToShutDown\":") + (s.inProgress - s.downloadsInProgress > 0 ? "false" : "true");
  out += ",\"waitingFor\":" + (s.waitingFor.empty() ? std::string("null") : JsonQuoted(s.waitingFor));
  const ItemStateSource::Description source = itemSource->Describe();
  out += ",\"source\":{\"name\":" + JsonQuoted(source.name) +
         ",\"connected\":" + (source.connected ? "true" : "false") + ",\"roots\":" + JsonList(source.roots) +
         ",\"labels\":" + JsonList(source.labels) + "}";
  return out + "}";
}

bool ControlService::IsIdle(bool uploadsOnly) const {
  const TICloudTracker* t = controller_.GetTracker();
  if (t == nullptr || t->HasUnexaminedPaths()) return false;
  const TrackerSnapshot s = t->Snapshot();
  return uploadsOnly ? s.inProgress - s.downloadsInProgress <= 0 : s.status == TrackerSnapshot::Status::Idle;
}

void ControlService::Request(ControlSocket::ConnectionId id, const std::string& line) {
  using Kind = ControlRequest::Kind;
  const ControlRequest request = ParseControlRequest(line);
  // Still launching: a window of the launch (the welcome, the folder
  // panel) waits for the user. `open` brings it to the front; what needs
  // the tracker waits for it, or is refused.
  if (controller_.GetTracker() == nullptr) {
    switch (request.kind) {
      case Kind::Open:
      case Kind::Preferences:
        socket_.Send(id, controller_.Face().RaiseModalWindow() ? "ok" : kStillStarting);
        return;
      case Kind::Rescan:
      case Kind::Pause:
      case Kind::Resume:
      case Kind::Quit: socket_.Send(id, kStillStarting); return;
      default: break;
    }
  }
  switch (request.kind) {
    case Kind::Status:
    case Kind::Follow: {
      std::string answer = request.json ? StatusJson() : StatusLine();
      socket_.Send(id, "ok " + answer);
      if (request.kind == Kind::Follow) {
        followers_[id] = {request.json, std::move(answer)};
        KeepFollowing();
      }
      break;
    }
    case Kind::WaitIdle:
      if (IsIdle(request.uploads)) {
        socket_.Send(id, "ok idle");
      } else {
        waiters_[id] = request.uploads;
        KeepCheckingWaiters();
      }
      break;
    case Kind::Open:
    case Kind::Preferences:
      if (!controller_.Face().HasWindows()) {
        socket_.Send(id, kNoWindows);
        break;
      }
      socket_.Send(id, "ok");
      if (request.kind == Kind::Open)
        controller_.statusItemClicked();
      else
        controller_.openPreferences();
      break;
    case Kind::Rescan:
      if (request.folder.empty()) {
        socket_.Send(id, "ok");
        controller_.performRescan(false);
      } else if (!isDirectory(request.folder)) {
        socket_.Send(id, "error " + shortString(EscapedForLine(request.folder)) +
                             " is not a folder (give an absolute path)");
      } else if (std::string refusal; controller_.RescanFolder(request.folder, &refusal)) {
        socket_.Send(id, "ok");
      } else {
        socket_.Send(id, "error " + EscapedForLine(refusal));
      }
      break;
    case Kind::Pause:
    case Kind::Resume:
      if (std::string problem; controller_.setSyncingPaused(request.kind == Kind::Pause, &problem))
        socket_.Send(id, "ok");
      else
        socket_.Send(id, "error " + EscapedForLine(problem));
      break;
    case Kind::Ping: socket_.Send(id, "ok"); break;
    case Kind::Quit:
      socket_.Send(id, "ok");
      controller_.terminate();
      break;
    case Kind::Invalid: socket_.Send(id, "error " + request.error); break;
  }
}

void ControlService::StatusChanged() {
  // A send may drop its peer, which takes it out of the map: walk a copy.
  std::vector<ControlSocket::ConnectionId> ids;
  for (const auto& entry : followers_) ids.push_back(entry.first);
  for (const auto id : ids) {
    auto it = followers_.find(id);
    if (it == followers_.end()) continue;
    std::string now = it->second.first ? StatusJson() : StatusLine();
    if (now == it->second.second) continue;
    it->second.second = now;
    socket_.Send(id, "ok " + now);
  }
  AnswerWaiters();
  KeepFollowing();
}

void ControlService::KeepFollowing() {
  if (followTimerSet_ || followers_.empty()) return;
  const TICloudTracker* tracker = controller_.GetTracker();
  if (tracker == nullptr || tracker->Snapshot().inProgress == 0) return;  // idle: nothing moves
  followTimerSet_ = true;
  followTimer_ = MainLoop::Main()->AddTimer(kFollowRefreshInterval, [this] {
    followTimerSet_ = false;
    StatusChanged();
  });
}

void ControlService::AnswerWaiters() {
  std::vector<ControlSocket::ConnectionId> answered;
  for (const auto& [id, uploadsOnly] : waiters_)
    if (IsIdle(uploadsOnly)) answered.push_back(id);
  for (const auto id : answered) {
    waiters_.erase(id);
    socket_.Send(id, "ok idle");
  }
}

void ControlService::KeepCheckingWaiters() {
  if (waiterTimerSet_ || waiters_.empty()) return;
  waiterTimerSet_ = true;
  waiterTimer_ = MainLoop::Main()->AddTimer(kWaiterCheckInterval, [this] {
    waiterTimerSet_ = false;
    AnswerWaiters();
    KeepCheckingWaiters();
  });
}

void ControlService::Closed(ControlSocket::ConnectionId id) {
  followers_.erase(id);
  waiters_.erase(id);
}

}  // namespace vantorel
