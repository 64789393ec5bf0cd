// The rclone source's thread: the mount table followed (POLLPRI when a
// mount comes or goes), each mount's process and record folder found, the
// record folders watched with inotify, and the listener told of the files
// whose record changed, of mounts that came or went, and of files a lost
// mount left behind.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneSourceImpl.h"
#include "units/fs/PathSafety.h"
#include "units/text/LineText.h"

namespace vantorel::rclone {

namespace {

// The mount table is a few lines; a huge one is read this far.
constexpr std::size_t kLongestMountTable = 4 * 1024 * 1024;
// After a record changed, the remote control is asked this long (seconds).
constexpr double kAskAfterChange = 10.0;
// Files named in a warning; the rest are counted.
constexpr std::size_t kMostNamed = 3;

}  // namespace

void RcloneSource::Run() {
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

void RcloneSource::Refresh(int table) {
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
    if (present.count(followed.mount.mountPoint) == 0) {
      const auto notice = PendingNotice(followed.mount.remote, followed.records);
      if (!notice) continue;
      Followed gone = followed;
      gone.lost = true;
      gone.control.clear();
      {
        std::lock_guard lock(mutex_);
        lost_.push_back(std::move(gone));
      }
      Notify(*notice);  // once its files are known to wait for it
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

// Files whose record says they wait, under a record folder (names
// relative to it), at most `most`; `more` is set when there were more.
std::vector<std::string> RcloneSource::PendingUnder(const std::string& records, std::size_t most, bool* more) {
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
void RcloneSource::WalkRecords(const std::string& root, const std::function<void(const std::string&)>& onFolder,
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

// What to say when files of `remote` are left in the cache, not uploaded:
// they go when it is mounted again with the same cache. Nothing when none
// were left.
std::optional<std::string> RcloneSource::PendingNotice(const std::string& remote, const std::string& records) {
  if (records.empty()) return std::nullopt;
  bool more = false;
  std::vector<std::string> pending = PendingUnder(records, kMostCounted, &more);
  if (pending.empty()) return std::nullopt;
  std::sort(pending.begin(), pending.end());
  std::string names;
  for (std::size_t i = 0; i < pending.size() && i < kMostNamed; ++i)
    names += (i == 0 ? "" : ", ") + pending[i].substr(pending[i].find_last_of('/') + 1);
  if (pending.size() > kMostNamed) names += ", …";
  const std::string count = more ? "more than " + std::to_string(pending.size()) : std::to_string(pending.size());
  return "rclone stopped with " + count + (pending.size() == 1 ? " file" : " files") + " not uploaded (" +
         EscapedForLine(names) + "). They will be uploaded when " + remote + " is mounted again with the same cache.";
}

void RcloneSource::Notify(const std::string& text) {
  // Told to the listener (a notification and a line of the log); kept
  // for it when nobody listens yet (what launch finds comes first).
  std::lock_guard lock(mutex_);
  if (!listening_) {
    untold_.push_back(text);
    return;
  }
  pushes_.Post([text](Listener& listener) {
    if (listener.notice) listener.notice(text);
  });
}

// At launch: what an earlier mount left in rclone's usual cache, for
// remotes not mounted now.
void RcloneSource::WarnOfCachesWithoutMount(const std::vector<Followed>& mounted) {
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
  for (const std::string& remote : remotes)
    if (const auto notice = PendingNotice(remote + ":", cache + "/vfsMeta/" + remote)) Notify(*notice);
}

// Watches every record folder anew; what is pending now is told.
void RcloneSource::WatchRecords(const std::vector<Followed>& mounts) {
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

void RcloneSource::Watch(const std::string& folder) {
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
void RcloneSource::WatchTree(const std::string& root, const Followed& followed, std::vector<std::string>& pending) {
  WalkRecords(
      root, [this](const std::string& folder) { Watch(folder); },
      [&](const std::string& path) {
        if (ReadRecord(path) != State::Pending) return;
        if (auto file = RcloneFileOfRecord(path, followed.mount.mountPoint, followed.records)) pending.push_back(*file);
      });
}

void RcloneSource::ReadRecordEvents() {
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

void RcloneSource::NoteMoving(const std::string& path, bool download, double now) {
  if (seenMoving_.size() >= kMostCounted)
    std::erase_if(seenMoving_, [&](const auto& seen) { return now - seen.second.at > kSeenMovingKept; });
  if (seenMoving_.size() < kMostCounted || seenMoving_.count(path) > 0) seenMoving_[path] = SeenMoving{now, download};
}

// Tells the listener of `paths`, whose records (or movement) changed.
void RcloneSource::Tell(std::vector<std::string> paths, bool stillToAsk) {
  if (paths.empty()) return;
  // What waits is asked about until it is sent; anything else that
  // changed, for a while (a read through a full cache has no dirty
  // record, only the remote control's word).
  const double now = SteadyNow();
  std::erase_if(paths, [&](const std::string& path) {
    if (pending_.size() < kMostCounted && Read(path) == State::Pending) {
      pending_.insert(path);
      std::lock_guard lock(mutex_);
      NoteMoving(path, false, now);
      return false;
    }
    pending_.erase(path);
    // A clean record never seen going up or down is a read beginning (or
    // a file sent unseen): where the remote control can say which, the
    // file is told once it was asked, within the second, not taken for a
    // download already received.
    if (!stillToAsk) return false;
    const auto followed = MountOf(path);
    std::lock_guard lock(mutex_);
    if (!followed || followed->control.empty() || seenMoving_.count(path) > 0 || deferred_.size() >= kMostCounted)
      return false;
    deferred_.insert(path);
    return true;
  });
  askUntil_ = now + kAskAfterChange;
  if (paths.empty()) return;
  pushes_.Post([paths = std::move(paths)](Listener& listener) {
    if (listener.pathsChanged) listener.pathsChanged(paths);
  });
}


}  // namespace vantorel::rclone
