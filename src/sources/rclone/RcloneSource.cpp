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

// A file the cache holds a record of was written here (or read through a
// full cache: its modification time is then the remote's, so it is never
// taken for a recent upload); without one, nothing says.
TransferDirection RcloneSource::DirectionOf(const std::string& path) {
  if (IsDownloading(path)) return TransferDirection::Receiving;
  return Read(path) == State::None ? TransferDirection::Unknown : TransferDirection::Sending;
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
State RcloneSource::Read(const std::string& path) {
  const auto followed = MountOf(path, true);
  if (!followed || followed->records.empty()) return State::None;
  const auto record = RcloneRecordOf(path, followed->mount.mountPoint, followed->records);
  return record ? ReadRecord(*record) : State::None;
}

State RcloneSource::ReadRecord(const std::string& record) {
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
  if (const auto parsed = ParseRcloneRecord(text)) return parsed->dirty ? State::Pending : State::Uploaded;
  // Caught in the middle of its rewrite (rclone rewrites in place): still
  // pending until the rewrite is closed, which is told again. One that
  // stays unreadable is no record.
  return std::time(nullptr) - st.st_mtim.tv_sec < kRewriteSeconds ? State::Pending : State::None;
}


void RcloneSource::Say(const std::string& line) { WriteDiagnosticLine("rclone: " + EscapedForLine(line)); }

}  // namespace rclone

std::shared_ptr<ItemStateSource> MakeRcloneSource(RcloneOptions options) {
  return std::make_shared<rclone::RcloneSource>(std::move(options));
}

}  // namespace vantorel
