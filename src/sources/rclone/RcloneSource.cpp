#include "sources/rclone/RcloneSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "sources/LocalHttp.h"
#include "sources/SourcePushes.h"
#include "sources/StateLines.h"
#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneMounts.h"
#include "sources/rclone/RcloneStats.h"
#include "units/fs/PathSafety.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

// The mount table is a few lines; a huge one is read this far.
constexpr std::size_t kLongestMountTable = 4 * 1024 * 1024;
// Record folders watched, at most (all mounts together).
constexpr std::size_t kMostRecordFolders = 20000;
// After a record changed, the remote control is asked this long (seconds).
constexpr double kAskAfterChange = 10.0;
// Files named in a warning; the rest are counted, up to the second.
constexpr std::size_t kMostNamed = 3;
constexpr std::size_t kMostCounted = 10000;
// A record that cannot be read and changed this recently is being
// rewritten: its file is still pending. An older one is no record.
constexpr std::time_t kRewriteSeconds = 10;

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class RcloneSource final : public ItemStateSource {
public:
  explicit RcloneSource(RcloneOptions options) : options_(std::move(options)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~RcloneSource() override {
    stopping_.store(true);
    const std::uint64_t one = 1;
    if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    thread_.join();
    if (wake_ >= 0) ::close(wake_);
  }

  bool IsInStore(const std::string& path) override { return MountOf(path, true).has_value(); }
  bool WaitsForItsFolder(const std::string& path) override {
    const auto followed = MountOf(path, true);
    return followed && followed->lost && Read(path) == State::Pending;
  }
  std::optional<std::string> WaitingFor() override {
    std::lock_guard lock(mutex_);
    if (lost_.empty()) return std::nullopt;
    return lost_.size() == 1 ? "Waiting: " + lost_.front().mount.remote + " is not mounted."
                             : "Waiting: " + std::to_string(lost_.size()) + " rclone remotes are not mounted.";
  }
  bool IsInClientFolder(const std::string& path) override { return MountOf(path).has_value(); }
  bool IsUploading(const std::string& path) override { return Read(path) == State::Pending; }
  bool IsUploaded(const std::string& path) override { return Read(path) != State::Pending && !IsDownloading(path); }
  // Read through a full cache while the remote control lists it.
  bool IsDownloading(const std::string& path) override {
    std::lock_guard lock(mutex_);
    const auto it = moving_.find(path);
    return it != moving_.end() && it->second.download;
  }
  std::optional<double> PercentDone(const std::string& path) override {
    std::lock_guard lock(mutex_);
    const auto it = moving_.find(path);
    return it == moving_.end() ? std::nullopt : std::optional<double>(it->second.percent);
  }
  // A file the cache holds a record of was written here (or read through a
  // full cache: its modification time is then the remote's, so it is never
  // taken for a recent upload); without one, nothing says.
  TransferDirection DirectionOf(const std::string& path) override {
    if (IsDownloading(path)) return TransferDirection::Receiving;
    return Read(path) == State::None ? TransferDirection::Unknown : TransferDirection::Sending;
  }
  // Nothing in a mount stands for a download under another name.
  bool IsDownloadFile(std::string_view) override { return false; }
  std::optional<std::string> ItemOfDownloadFile(std::string_view) override { return std::nullopt; }
  std::string PlaceholderPathOf(std::string_view) override { return {}; }

  void DescribeItem(const std::string& path) override {
    const auto mount = MountOf(path);
    std::string text = "not in an rclone mount";
    if (mount) text = "in " + mount->mount.remote + ", " + (IsUploading(path) ? "not uploaded yet" : "uploaded");
    WriteDiagnosticLine("rclone status: " + EscapedForLine(path) + ": " + text);
  }

  Description Describe() override {
    std::lock_guard lock(mutex_);
    Description description{"rclone", !mounts_.empty(), {}, {}};
    for (const Followed& followed : mounts_) {
      description.roots.push_back(followed.mount.mountPoint);
      description.labels.push_back(followed.mount.remote);
    }
    return description;
  }

  void StartPushing(MainLoop& loop, Listener listener) override {
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
  void StopPushing() override { pushes_.Stop(); }

  void SetWatchedFolder(const std::string& folder) override {
    {
      std::lock_guard lock(mutex_);
      if (watchedFolder_ == folder) return;
      watchedFolder_ = folder;
      forceLook_ = true;
    }
    const std::uint64_t one = 1;
    if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
  }

private:
  struct Followed {
    RcloneMount mount;
    std::string records;  // its record folder; empty when rclone's cache is not known
    int pid = 0;          // the process serving it, where found
    std::string control;  // its remote control's base URL; empty when it has none to ask
    bool lost = false;    // gone with files still to send, which wait for it
  };
  // A file the remote control lists as moving.
  struct Moving {
    double percent = 0;
    bool download = false;  // its record is not dirty: it comes in
  };

  // The mount `path` is in; with `orLost`, a lost one too.
  std::optional<Followed> MountOf(const std::string& path, bool orLost = false) {
    std::lock_guard lock(mutex_);
    for (const Followed& followed : mounts_)
      if (IsWithinFolder(path, followed.mount.mountPoint)) return followed;
    if (orLost)
      for (const Followed& followed : lost_)
        if (IsWithinFolder(path, followed.mount.mountPoint)) return followed;
    return std::nullopt;
  }

  enum class State { None, Pending, Uploaded };

  // What rclone's record of the file says: still to upload (Dirty, or being
  // rewritten), uploaded, or no record at all. Read afresh for every
  // question (one small file).
  State Read(const std::string& path) {
    const auto followed = MountOf(path, true);
    if (!followed || followed->records.empty()) return State::None;
    const auto record = RcloneRecordOf(path, followed->mount.mountPoint, followed->records);
    return record ? ReadRecord(*record) : State::None;
  }

  static State ReadRecord(const std::string& record) {
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

  void Say(const std::string& line) { WriteDiagnosticLine("rclone: " + EscapedForLine(line)); }

  void Run() {
    const int table = ::open(options_.mountTable.c_str(), O_RDONLY | O_CLOEXEC);
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    LocalHttp http(stopping_);
    Refresh(table);
    while (!stopping_.load()) {
      // The remote control is asked about once a second while something
      // waits or moves, never while all is idle.
      const bool asking = WantsStats();
      if (asking && SteadyNow() - lastAsked_ >= 1.0) AskStats(http);
      pollfd fds[3] = {{wake_, POLLIN, 0}, {table, POLLPRI, 0}, {inotify_, POLLIN, 0}};
      if (::poll(fds, 3, asking ? 1000 : 2000) < 0 && errno != EINTR) break;
      if (stopping_.load()) break;
      // The mount table tells a change by POLLPRI (and POLLERR); it is read
      // again at every wake-up too (cheap when nothing changed): a process
      // found late, a new watched folder, a table that is a plain file in
      // tests.
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t value;
        while (::read(wake_, &value, sizeof value) > 0) {
        }
      }
      Refresh(table);
      if ((fds[2].revents & POLLIN) != 0) ReadRecordEvents();
    }
    if (table >= 0) ::close(table);
    if (inotify_ >= 0) ::close(inotify_);
  }

  void Refresh(int table) {
    std::string text;
    if (table >= 0 && ::lseek(table, 0, SEEK_SET) == 0) {
      char buffer[16384];
      for (;;) {
        const ssize_t n = ::read(table, buffer, sizeof buffer);
        if (n <= 0 || text.size() > kLongestMountTable) break;
        text.append(buffer, static_cast<std::size_t>(n));
      }
    }
    std::vector<RcloneMount> mounts = ParseRcloneMounts(text);
    std::vector<Followed> previous;
    {
      std::lock_guard lock(mutex_);
      previous = mounts_;
    }
    // A mount whose process ended is lost, though the table lists it until
    // it is unmounted (its files cannot be reached meanwhile).
    for (const Followed& followed : previous)
      if (followed.pid > 0 && ::access((options_.procRoot + "/" + std::to_string(followed.pid)).c_str(), F_OK) != 0)
        deadMounts_.insert(followed.mount.mountPoint);
    std::erase_if(deadMounts_, [&](const std::string& point) {
      return std::none_of(mounts.begin(), mounts.end(), [&](const RcloneMount& m) { return m.mountPoint == point; });
    });
    std::erase_if(mounts, [&](const RcloneMount& m) { return deadMounts_.count(m.mountPoint) > 0; });
    // Mounts there (a mount left out below is not lost).
    std::set<std::string> present;
    for (const RcloneMount& mount : mounts) present.insert(mount.mountPoint);
    if (options_.onlyAroundWatchedFolder) {
      // Looked for, not chosen: only mounts holding the watched folder, or
      // inside it, are the user's business here.
      std::string watched;
      {
        std::lock_guard lock(mutex_);
        watched = watchedFolder_;
      }
      std::erase_if(mounts, [&](const RcloneMount& m) {
        return watched.empty() || !(IsWithinFolder(watched, m.mountPoint) || IsWithinFolder(m.mountPoint, watched));
      });
    }
    // The same mounts, each with its records known: nothing to look up.
    bool forced;
    {
      std::lock_guard lock(mutex_);
      forced = std::exchange(forceLook_, false);
    }
    if (!firstLook_ && !forced && mounts.size() == previous.size() &&
        std::equal(mounts.begin(), mounts.end(), previous.begin(), [](const RcloneMount& a, const Followed& b) {
          return a.mountPoint == b.mount.mountPoint && a.remote == b.mount.remote && !b.records.empty();
        }))
      return;
    std::vector<Followed> found;
    for (RcloneMount& mount : mounts) {
      if (const auto why = WhyNotASyncRoot(mount.mountPoint)) {
        if (said_.insert("refused " + mount.mountPoint).second) Say("not following " + mount.mountPoint + ": " + *why + ".");
        continue;
      }
      Followed followed{std::move(mount), {}, 0, {}, false};
      if (const auto process = FindRcloneProcess(followed.mount.mountPoint, options_.procRoot)) {
        followed.records = RcloneRecordFolder(followed.mount, process->cacheDir);
        followed.pid = process->pid;
        if (process->remoteControl) {
          const auto url = RcloneRemoteControlUrl(process->remoteControlAddress);
          if (process->remoteControlLogin) {
            if (said_.insert("login " + followed.mount.mountPoint).second)
              Say("the remote control of " + followed.mount.remote + " asks for a login; no percentages are shown.");
          } else if (!url) {
            if (said_.insert("address " + followed.mount.mountPoint).second)
              Say("the remote control of " + followed.mount.remote + " is not on this machine's loopback (" +
                  process->remoteControlAddress + "); it is not asked.");
          } else {
            followed.control = *url;
          }
        }
      } else if (said_.insert("no process " + followed.mount.mountPoint).second)
        Say("the process serving " + followed.mount.mountPoint + " was not found; its pending uploads cannot be read.");
      found.push_back(std::move(followed));
    }
    std::vector<std::string> roots;
    bool changed;
    {
      std::lock_guard lock(mutex_);
      changed = found.size() != mounts_.size() ||
                !std::equal(found.begin(), found.end(), mounts_.begin(), [](const Followed& a, const Followed& b) {
                  return a.mount.mountPoint == b.mount.mountPoint && a.records == b.records;
                });
      if (changed) mounts_ = found;
      for (const Followed& followed : mounts_) roots.push_back(followed.mount.mountPoint);
    }
    // Gone with files still to send: said before anything else, and kept
    // until mounted again, its files waiting for it.
    for (const Followed& followed : previous)
      if (present.count(followed.mount.mountPoint) == 0 && WarnOfPending(followed.mount.remote, followed.records)) {
        Followed gone = followed;
        gone.lost = true;
        gone.control.clear();
        std::lock_guard lock(mutex_);
        lost_.push_back(std::move(gone));
      }
    {
      std::lock_guard lock(mutex_);
      std::erase_if(lost_, [&](const Followed& gone) {
        return std::any_of(found.begin(), found.end(),
                           [&](const Followed& f) { return f.mount.mountPoint == gone.mount.mountPoint; });
      });
    }
    if (firstLook_) WarnOfCachesWithoutMount(found);
    firstLook_ = false;
    if (!changed) return;
    for (const Followed& followed : found)
      if (said_.insert("follows " + followed.mount.mountPoint + followed.records).second)
        Say("follows " + followed.mount.remote + " at " + followed.mount.mountPoint + ".");
    if (found.empty() && options_.reportAbsence && lines_.ShouldSay("no mount", SteadyNow()))
      Say("no rclone mount is there; waiting for one.");
    WatchRecords(found);
    pushes_.Post([roots](Listener& listener) {
      if (listener.rootsChanged) listener.rootsChanged(roots);
    });
  }

  bool WantsStats() {
    if (!pending_.empty() || SteadyNow() < askUntil_) return true;
    std::lock_guard lock(mutex_);
    return !moving_.empty() && std::any_of(mounts_.begin(), mounts_.end(), [](const Followed& f) { return !f.control.empty(); });
  }

  // What each mount's remote control lists as moving; files that start or
  // stop moving are told.
  void AskStats(LocalHttp& http) {
    lastAsked_ = SteadyNow();
    std::vector<Followed> mounts;
    {
      std::lock_guard lock(mutex_);
      mounts = mounts_;
    }
    std::map<std::string, Moving> moving;
    for (const Followed& followed : mounts) {
      if (followed.control.empty()) continue;
      http.SetEndpoint(LocalEndpoint{followed.control, {}, {}, {}, {}});
      const auto reply = http.Request("POST", "/core/stats", 2.0, "{}");
      const auto listed = reply.Ok() ? ParseRcloneTransferring(reply.body) : std::nullopt;
      if (!listed) {
        if (said_.insert("no answer " + followed.control).second)
          Say("the remote control of " + followed.mount.remote + " at " + followed.control + " does not answer (" +
              (reply.Ok() ? std::string("not a stats answer") : reply.error.empty() ? "HTTP " + std::to_string(reply.status) : reply.error) +
              "); no percentages are shown.");
        continue;
      }
      for (const RcloneTransferring& file : *listed) {
        const std::string path = followed.mount.mountPoint + "/" + file.name;
        const auto record = RcloneRecordOf(path, followed.mount.mountPoint, followed.records);
        moving[path] = Moving{file.percentage, !record || ReadRecord(*record) != State::Pending};
      }
    }
    std::vector<std::string> changed;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [path, now] : moving)
        if (!moving_.count(path) || moving_[path].download != now.download) changed.push_back(path);
      for (const auto& [path, before] : moving_)
        if (!moving.count(path)) changed.push_back(path);
      moving_ = std::move(moving);
    }
    Tell(std::move(changed));
  }

  // Files whose record says they wait, under a record folder (names
  // relative to it), at most `most`; `more` is set when there were more.
  static std::vector<std::string> PendingUnder(const std::string& records, std::size_t most, bool* more) {
    std::vector<std::string> pending;
    WalkRecords(records, nullptr, [&](const std::string& path) {
      if (ReadRecord(path) != State::Pending) return;
      if (pending.size() == most)
        *more = true;
      else
        pending.push_back(path.substr(records.size() + 1));
    });
    return pending;
  }

  // Every record under `root`: `onFolder` for each folder (the root too),
  // `onRecord` for each file, at most kMostRecordFolders folders.
  static void WalkRecords(const std::string& root, const std::function<void(const std::string&)>& onFolder,
                          const std::function<void(const std::string&)>& onRecord) {
    std::vector<std::string> folders{root};
    for (std::size_t looked = 0; !folders.empty() && looked < kMostRecordFolders; ++looked) {
      const std::string folder = std::move(folders.back());
      folders.pop_back();
      if (onFolder) onFolder(folder);
      DIR* dir = ::opendir(folder.c_str());
      if (dir == nullptr) continue;
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (entry->d_type == DT_DIR)
          folders.push_back(folder + "/" + name);
        else if (entry->d_type == DT_REG)
          onRecord(folder + "/" + name);
      }
      ::closedir(dir);
    }
  }

  // One line and one notice when files of `remote` are left in the cache,
  // not uploaded: they go when it is mounted again with the same cache.
  // True when files were left.
  bool WarnOfPending(const std::string& remote, const std::string& records) {
    if (records.empty()) return false;
    bool more = false;
    std::vector<std::string> pending = PendingUnder(records, kMostCounted, &more);
    if (pending.empty()) return false;
    std::sort(pending.begin(), pending.end());
    std::string names;
    for (std::size_t i = 0; i < pending.size() && i < kMostNamed; ++i)
      names += (i == 0 ? "" : ", ") + pending[i].substr(pending[i].find_last_of('/') + 1);
    if (pending.size() > kMostNamed) names += ", …";
    const std::string count = more ? "more than " + std::to_string(pending.size()) : std::to_string(pending.size());
    const std::string text = "rclone stopped with " + count + (pending.size() == 1 ? " file" : " files") +
                             " not uploaded (" + EscapedForLine(names) + "). They will be uploaded when " + remote +
                             " is mounted again with the same cache.";
    // Told to the listener (a notification and a line of the log); kept
    // for it when nobody listens yet (what launch finds comes first).
    std::lock_guard lock(mutex_);
    if (!listening_) {
      untold_.push_back(text);
      return true;
    }
    pushes_.Post([text](Listener& listener) {
      if (listener.notice) listener.notice(text);
    });
    return true;
  }

  // At launch: what an earlier mount left in rclone's usual cache, for
  // remotes not mounted now.
  void WarnOfCachesWithoutMount(const std::vector<Followed>& mounted) {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string cache;
    if (xdg != nullptr && xdg[0] == '/')
      cache = std::string(xdg) + "/rclone";
    else if (home != nullptr && home[0] == '/')
      cache = std::string(home) + "/.cache/rclone";
    else
      return;
    DIR* dir = ::opendir((cache + "/vfsMeta").c_str());
    if (dir == nullptr) return;
    std::vector<std::string> remotes;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (entry->d_type != DT_DIR || name == "." || name == ".." || !IsPlainRelativePath(name)) continue;
      if (std::none_of(mounted.begin(), mounted.end(), [&](const Followed& f) { return f.mount.remoteName == name; }))
        remotes.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& remote : remotes) WarnOfPending(remote + ":", cache + "/vfsMeta/" + remote);
  }

  // Watches every record folder anew; what is pending now is told.
  void WatchRecords(const std::vector<Followed>& mounts) {
    for (const auto& [wd, folder] : watched_) ::inotify_rm_watch(inotify_, wd);
    watched_.clear();
    pending_.clear();  // read again from every record
    std::vector<std::string> pending;
    for (const Followed& followed : mounts) {
      if (followed.records.empty()) continue;
      // Until rclone writes a first record, its folder may not be there:
      // the nearest folder above it is watched for it to appear.
      std::string folder = followed.records;
      while (::access(folder.c_str(), F_OK) != 0 && folder.find('/') != std::string::npos && folder != "/")
        folder.erase(folder.find_last_of('/') == 0 ? 1 : folder.find_last_of('/'));
      if (folder == followed.records)
        WatchTree(folder, followed, pending);
      else
        Watch(folder);
    }
    Tell(std::move(pending));
  }

  void Watch(const std::string& folder) {
    if (watched_.size() >= kMostRecordFolders) {
      if (said_.insert("too many folders").second)
        Say("more than " + std::to_string(kMostRecordFolders) + " folders of records; the rest are not followed.");
      return;
    }
    const int wd = ::inotify_add_watch(inotify_, folder.c_str(),
                                       IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                                           IN_DELETE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd >= 0) watched_[wd] = folder;
  }

  // Watches `folder` and the folders under it, and notes the files whose
  // record says they wait.
  void WatchTree(const std::string& root, const Followed& followed, std::vector<std::string>& pending) {
    WalkRecords(
        root, [this](const std::string& folder) { Watch(folder); },
        [&](const std::string& path) {
          if (ReadRecord(path) != State::Pending) return;
          if (auto file = RcloneFileOfRecord(path, followed.mount.mountPoint, followed.records)) pending.push_back(*file);
        });
  }

  void ReadRecordEvents() {
    alignas(inotify_event) char buffer[16384];
    std::vector<std::string> changed;
    bool rewatch = false;
    std::vector<Followed> mounts;
    {
      std::lock_guard lock(mutex_);
      mounts = mounts_;
    }
    for (;;) {
      const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_Q_OVERFLOW) != 0) {
          rewatch = true;  // events were lost: everything is read again
          continue;
        }
        const auto folder = watched_.find(event->wd);
        if (folder == watched_.end() || event->len == 0) continue;
        const std::string path = folder->second + "/" + event->name;
        for (const Followed& followed : mounts) {
          if (followed.records.empty()) continue;
          if (IsWithinFolder(followed.records, path) ||
              (folder->second != followed.records && IsWithinFolder(followed.records, folder->second))) {
            // Above the record folder: it (or a folder on its way) came.
            if ((event->mask & IN_ISDIR) != 0) rewatch = true;
          } else if (IsWithinFolder(path, followed.records)) {
            if ((event->mask & IN_ISDIR) != 0) {
              if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) WatchTree(path, followed, changed);
            } else if (auto file = RcloneFileOfRecord(path, followed.mount.mountPoint, followed.records)) {
              changed.push_back(*file);
            }
          }
        }
      }
    }
    if (rewatch) WatchRecords(mounts);
    Tell(std::move(changed));
  }

  // Tells the listener of `paths`, whose records (or movement) changed.
  void Tell(std::vector<std::string> paths) {
    if (paths.empty()) return;
    // What waits is asked about until it is sent; anything else that
    // changed, for a while (a read through a full cache has no dirty
    // record, only the remote control's word).
    for (const std::string& path : paths) {
      if (pending_.size() < kMostCounted && Read(path) == State::Pending)
        pending_.insert(path);
      else
        pending_.erase(path);
    }
    askUntil_ = SteadyNow() + kAskAfterChange;
    pushes_.Post([paths = std::move(paths)](Listener& listener) {
      if (listener.pathsChanged) listener.pathsChanged(paths);
    });
  }

  const RcloneOptions options_;
  SourcePushes pushes_;
  std::atomic<bool> stopping_{false};
  int wake_ = -1;
  std::thread thread_;
  // Guards mounts_ (the thread writes it, questions read it).
  std::mutex mutex_;
  std::vector<Followed> mounts_;
  // The thread's own.
  int inotify_ = -1;
  std::map<int, std::string> watched_;  // watch → record folder
  std::set<std::string> said_;
  StateLines lines_;
  std::set<std::string> deadMounts_;  // listed, but their process ended
  bool firstLook_ = true;
  std::set<std::string> pending_;  // files known to wait, for whether to ask
  double lastAsked_ = 0;   // when the remote controls were last asked
  double askUntil_ = 0;    // they are asked until then at least
  // Guarded by mutex_: what the remote controls list as moving, by path;
  // whether anyone listens, and the notices kept until someone does.
  std::map<std::string, Moving> moving_;
  std::vector<Followed> lost_;  // mounts gone with files still to send
  std::string watchedFolder_;   // the folder the user watches
  bool forceLook_ = false;      // the mounts are looked at again, whatever the table
  bool listening_ = false;
  std::vector<std::string> untold_;
};

}  // namespace

std::shared_ptr<ItemStateSource> MakeRcloneSource(RcloneOptions options) {
  return std::make_shared<RcloneSource>(std::move(options));
}

}  // namespace vantorel
