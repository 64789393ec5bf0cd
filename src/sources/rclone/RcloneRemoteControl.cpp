// The rclone source's word from each mount's remote control (`core/stats`):
// which files move now and how far they came, asked about once a second
// while something waits or moves.

#include <algorithm>
#include <set>

#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneSourceImpl.h"
#include "sources/rclone/RcloneStats.h"
#include "units/fs/PathSafety.h"

namespace vantorel::rclone {

namespace {
// A download unlisted for less than this (seconds) goes on: rclone reads
// through its cache in spurts, one downloader ending as the next begins.
constexpr double kDownloadGap = 2.5;
// What moved is taken as moving while its remote control does not answer,
// this long at most (seconds).
constexpr double kUnansweredKept = 30.0;
}  // namespace

bool RcloneSource::WantsStats() {
  if (!pending_.empty() || !deferred_.empty() || SteadyNow() < askUntil_) return true;
  std::lock_guard lock(mutex_);
  return !moving_.empty() && std::any_of(mounts_.begin(), mounts_.end(), [](const Followed& f) { return !f.control.empty(); });
}

// What each mount's remote control lists as moving; files that start or
// stop moving are told.
void RcloneSource::AskStats(LocalHttp& http) {
  lastAsked_ = SteadyNow();
  std::vector<Followed> mounts;
  {
    std::lock_guard lock(mutex_);
    mounts = mounts_;
  }
  std::map<std::string, Moving> moving;
  std::set<std::string> unanswered;  // mount points whose remote control said nothing
  for (const Followed& followed : mounts) {
    if (followed.control.empty()) continue;
    http.SetEndpoint(LocalEndpoint{followed.control, {}, {}, {}, {}});
    const auto reply = http.Request("POST", "/core/stats", 2.0, "{}");
    const auto listed = reply.Ok() ? ParseRcloneTransferring(reply.body) : std::nullopt;
    if (!listed) {
      unanswered.insert(followed.mount.mountPoint);
      if (said_.insert("no answer " + followed.control).second)
        Say("the remote control of " + followed.mount.remote + " at " + followed.control + " does not answer (" +
            (reply.Ok() ? std::string("not a stats answer") : reply.error.empty() ? "HTTP " + std::to_string(reply.status) : reply.error) +
            "); no percentages are shown.");
      continue;
    }
    for (const RcloneTransferring& file : *listed) {
      const std::string path = followed.mount.mountPoint + "/" + file.name;
      // Not dirty: it comes in (a record caught in its rewrite says what it said).
      if (RcloneRecordOf(path, followed.mount.mountPoint, followed.records))
        moving[path] = Moving{file.percentage, Read(path) != State::Pending, lastAsked_};
    }
  }
  std::vector<std::string> changed;
  {
    std::lock_guard lock(mutex_);
    // Not answered about (a remote control slow under load): as it was.
    // A download unlisted a moment: still coming.
    for (const auto& [file, before] : moving_) {
      const std::string& path = file;  // (a lambda may not name a structured binding in C++20)
      const bool unheard = std::any_of(unanswered.begin(), unanswered.end(),
                                       [&](const std::string& point) { return IsWithinFolder(path, point); });
      if (!moving.count(path) && ((before.download && lastAsked_ - before.listedAt < kDownloadGap) ||
                                  (unheard && lastAsked_ - before.listedAt < kUnansweredKept)))
        moving[path] = before;
    }
    for (const auto& [path, now] : moving)
      if (!moving_.count(path) || moving_[path].download != now.download) changed.push_back(path);
    for (const auto& [path, before] : moving_)
      if (!moving.count(path)) changed.push_back(path);
    for (const auto& [path, now] : moving)
      if (now.download) NoteMoving(path, true, lastAsked_);
    moving_ = std::move(moving);
  }
  // What waited for this answer is told now, with it.
  changed.insert(changed.end(), deferred_.begin(), deferred_.end());
  deferred_.clear();
  Tell(std::move(changed), false);
}


}  // namespace vantorel::rclone
