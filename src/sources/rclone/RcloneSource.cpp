// The rclone source's answers: each file's record read afresh, the mounts
// and what moves as the thread last found them.

#include "sources/rclone/RcloneSource.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneSourceImpl.h"
#include "units/fs/PathSafety.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace rclone {

namespace {

// A record that cannot be read and changed this recently is being
// rewritten: its file is still pending. An older one is no record.
constexpr std::time_t kRewriteSeconds = 10;

}  // namespace

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RcloneSource::RcloneSource(RcloneOptions options) : options_(std::move(options)) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

RcloneSource::~RcloneSource() {
  stopping_.store(true);
  const std::uint64_t one = 1;
  if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
  thread_.join();
  if (wake_ >= 0) ::close(wake_);
}

bool RcloneSource::WaitsForItsFolder(const std::string& path) {
  const auto followed = MountOf(path, true);
  return followed && followed->lost && Read(path) == State::Pending;
}

std::optional<std::string> RcloneSource::WaitingFor() {
  std::lock_guard lock(mutex_);
  if (lost_.empty()) return std::nullopt;
  return lost_.size() == 1 ? "Waiting: " + lost_.front().mount.remote + " is not mounted."
                           : "Waiting: " + std::to_string(lost_.size()) + " rclone remotes are not mounted.";
}

// Read through a full cache while the remote control lists it.
bool RcloneSource::IsDownloading(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = moving_.find(path);
  return it != moving_.end() && it->second.download;
}

std::optional<double> RcloneSource::PercentDone(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = moving_.find(path);
  return it == moving_.end() ? std::nullopt : std::optional<double>(it->second.percent);
}

// A dirty record: written here. A clean one says nothing of the way the
// file went: the way it was last seen to go does (dirty: sent from here;
// listed as read: came in). Never seen going (read before the remote
// control listed it, or sent so fast that its dirty record was never
// seen): not known, never taken for an upload.
TransferDirection RcloneSource::DirectionOf(const std::string& path) {
  if (IsDownloading(path)) return TransferDirection::Receiving;
  const State state = Read(path);
  if (state == State::Pending) return TransferDirection::Sending;
  std::lock_guard lock(mutex_);
  const auto seen = seenMoving_.find(path);
  if (state != State::Uploaded || seen == seenMoving_.end() || SteadyNow() - seen->second.at >= kSeenMovingKept)
    return TransferDirection::Unknown;
  return seen->second.download ? TransferDirection::Receiving : TransferDirection::Sending;
}

std::optional<std::string> RcloneSource::ContentVersion(const std::string& path) {
  std::string modTime;
  if (Read(path, &modTime) == State::None || modTime.empty()) return std::nullopt;
  return modTime;
}

void RcloneSource::DescribeItem(const std::string& path) {
  const auto mount = MountOf(path);
  std::string text = "not in an rclone mount";
  if (mount) text = "in " + mount->mount.remote + ", " + (IsUploading(path) ? "not uploaded yet" : "uploaded");
  WriteDiagnosticLine("rclone status: " + EscapedForLine(path) + ": " + text);
}

ItemStateSource::Description RcloneSource::Describe() {
  std::lock_guard lock(mutex_);
  Description description{"rclone", !mounts_.empty(), {}, {}};
  for (const Followed& followed : mounts_) {
    description.roots.push_back(followed.mount.mountPoint);
    description.labels.push_back(followed.mount.remote);
  }
  return description;
}

void RcloneSource::StartPushing(MainLoop& loop, Listener listener) {
  const auto listening = pushes_.Start(loop, std::move(listener));
  const Description now = Describe();
  if (listening->rootsChanged && !now.roots.empty()) listening->rootsChanged(now.roots);
  std::vector<std::string> untold;
  {
    std::lock_guard lock(mutex_);
    listening_ = true;
    untold.swap(untold_);
  }
  for (const std::string& text : untold)
    if (listening->notice) listening->notice(text);
}

void RcloneSource::SetWatchedFolder(const std::string& folder) {
  {
    std::lock_guard lock(mutex_);
    if (watchedFolder_ == folder) return;
    watchedFolder_ = folder;
    forceLook_ = true;
  }
  const std::uint64_t one = 1;
  if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
}

// The mount `path` is in; with `orLost`, a lost one too.
std::optional<Followed> RcloneSource::MountOf(const std::string& path, bool orLost) {
  std::lock_guard lock(mutex_);
  for (const Followed& followed : mounts_)
    if (IsWithinFolder(path, followed.mount.mountPoint)) return followed;
  if (orLost)
    for (const Followed& followed : lost_)
      if (IsWithinFolder(path, followed.mount.mountPoint)) return followed;
  return std::nullopt;
}

// What rclone's record of the file says: still to upload (Dirty, or being
// rewritten), uploaded, or no record at all. Read afresh for every
// question (one small file).
State RcloneSource::Read(const std::string& path, std::string* modTime) {
  const auto followed = MountOf(path, true);
  if (!followed || followed->records.empty()) return State::None;
  const auto record = RcloneRecordOf(path, followed->mount.mountPoint, followed->records);
  if (!record) return State::None;
  LastRead now;
  bool whole = true;
  now.state = ReadRecord(*record, &now.modTime, &whole);
  std::lock_guard lock(mutex_);
  if (whole) {
    if (now.state == State::None) {
      lastRead_.erase(path);
    } else {
      if (lastRead_.size() >= kMostCounted && lastRead_.count(path) == 0) lastRead_.clear();
      lastRead_[path] = now;
    }
  } else if (const auto known = lastRead_.find(path); known != lastRead_.end()) {
    now = known->second;
  }
  if (modTime != nullptr) *modTime = now.modTime;
  return now.state;
}

State RcloneSource::ReadRecord(const std::string& record, std::string* modTime, bool* whole) {
  const int fd = ::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return State::None;  // nothing of it waits in the cache
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= kLongestRcloneRecord) {
    text.resize(static_cast<std::size_t>(st.st_size) + 1);
    const ssize_t n = ::read(fd, text.data(), text.size());
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  ::close(fd);
  if (const auto parsed = ParseRcloneRecord(text)) {
    if (modTime != nullptr) *modTime = parsed->modTime;
    return parsed->dirty ? State::Pending : State::Uploaded;
  }
  // Caught in the middle of its rewrite (rclone rewrites in place): still
  // pending until the rewrite is closed, which is told again, where what it
  // said before is not known. One that stays unreadable is no record.
  if (whole != nullptr) *whole = false;
  return std::time(nullptr) - st.st_mtim.tv_sec < kRewriteSeconds ? State::Pending : State::None;
}


void RcloneSource::Say(const std::string& line) { WriteDiagnosticLine("rclone: " + EscapedForLine(line)); }

}  // namespace rclone

std::shared_ptr<ItemStateSource> MakeRcloneSource(RcloneOptions options) {
  return std::make_shared<rclone::RcloneSource>(std::move(options));
}

}  // namespace vantorel
