#include "units/fs/DirectoryWatcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/fs/OwnFiles.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kDirectoryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                           IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                           IN_ONLYDIR | IN_EXCL_UNLINK;

double WallClockSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Shared with the tasks posted to the main loop, which may outlive the watcher.
// Batches go to the main loop one task at a time: each task hands over one
// batch and posts the next behind whatever else the loop has to do, so a
// flood of changes never holds the loop up for long.
struct Delivery : std::enable_shared_from_this<Delivery> {
  std::mutex mutex;  // guards everything below
  DirectoryWatcher::Callback callback;
  std::deque<std::vector<std::string>> batches;
  bool scheduled = false;
  MainLoop* loop = nullptr;

  void Push(std::vector<std::string> batch) {
    std::lock_guard lock(mutex);
    batches.push_back(std::move(batch));
    if (!scheduled) {
      scheduled = true;
      loop->Post([self = shared_from_this()] { self->HandOverOne(); });
    }
  }

  void HandOverOne() {
    DirectoryWatcher::Callback current;
    std::vector<std::string> batch;
    {
      std::lock_guard lock(mutex);
      if (batches.empty()) {
        scheduled = false;
        return;
      }
      batch = std::move(batches.front());
      batches.pop_front();
      current = callback;
    }
    if (current) current(batch);
    std::lock_guard lock(mutex);
    if (batches.empty())
      scheduled = false;
    else
      loop->Post([self = shared_from_this()] { self->HandOverOne(); });
  }
};

enum class Report { Nothing, Everything, ChangedSince };

std::atomic<bool> gHoldReaders{false};

// The identity of a folder: where a root's watched tree really is.
struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// A root's folder as it is now (a link is followed to its current target);
// nothing when there is no folder there.
std::optional<FolderIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FolderIdentity{st.st_dev, st.st_ino};
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || path == "/") return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name under `folder` on the way down to `path` ("a" for "/x" and "/x/a/b").
std::string NextComponent(const std::string& folder, const std::string& path) {
  const std::size_t start = folder == "/" ? 1 : folder.size() + 1;
  if (path.size() <= start) return {};
  const std::size_t end = path.find('/', start);
  return path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A watched root. Its tree is watched while its folder is there; the nearest
// existing folder above it is watched as well (its anchor), so that the root
// is noticed when it is removed, made again, renamed into place or replaced
// by a link, as a path-based event stream would.
struct RootState {
  std::string path;
  bool present = false;
  FolderIdentity identity;
  int anchorWd = -1;
  std::string anchor;
};

constexpr std::uint32_t kAnchorEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

struct DirectoryWatcher::Impl {
  std::vector<RootState> roots;
  MainLoop* loop = nullptr;
  double latency = 1.0;
  std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
  int inotifyFd = -1;
  // A second instance for the anchors above the roots: a folder both inside
  // one tree and above another root would otherwise share one descriptor.
  int anchorFd = -1;
  int stopFd = -1;
  std::thread reader;
  std::atomic<bool> stopping{false};

  // `stateMutex` guards `watching`, which `stateChanged` announces.
  mutable std::mutex stateMutex;
  mutable std::condition_variable stateChanged;
  bool watching = false;
  std::atomic<std::size_t> watchedCount{0};
  std::atomic<std::size_t> overflows{0};

  // Everything below belongs to the reader thread alone.
  std::unordered_map<int, std::string> directories;  // watch descriptor -> folder path
  std::unordered_map<int, std::size_t> rootWatches;   // watch descriptor -> index in roots
  // While the trees are walked again after an overflow: the watches met.
  std::unordered_set<int>* walked = nullptr;
  std::unordered_map<std::uint32_t, std::string> movedAway;  // cookie -> old path, until its partner arrives
  std::vector<std::string> pending;
  std::unordered_set<std::string> pendingSet;
  bool delivered = false;
  Clock::time_point lastDelivery;
  double lastReadTime = 0;  // wall clock, when the queue was last read empty
  bool warnedWatchLimit = false;
  bool warnedPathLimit = false;

  ~Impl() {
    if (inotifyFd >= 0) ::close(inotifyFd);
    if (anchorFd >= 0) ::close(anchorFd);
    if (stopFd >= 0) ::close(stopFd);
  }

  void Note(const std::string& path) {
    if (IsOwnFile(path)) return;
    if (pendingSet.insert(path).second) pending.push_back(path);
  }

  // `root`: the index of the root this folder is, or -1 for a folder below one.
  int AddWatch(const std::string& folder, long root) {
    const bool isRoot = root >= 0;
    // Roots may be links to the real folder; nothing below them is followed.
    const std::uint32_t mask = kDirectoryEvents | (isRoot ? 0 : IN_DONT_FOLLOW);
    const int wd = ::inotify_add_watch(inotifyFd, folder.c_str(), mask);
    if (wd < 0) {
      if (isRoot && errno != ENOSPC) {
        WriteDiagnosticLine("Cannot watch " + folder + ": " + std::strerror(errno));
        return -1;
      }
      if (errno == ENAMETOOLONG && !warnedPathLimit) {
        // Deeper than any path the system can name: nothing there can be
        // watched or examined. Said once, for the first such folder.
        warnedPathLimit = true;
        WriteDiagnosticLine("Cannot watch folders whose path is longer than the system's limit of " +
                            std::to_string(PATH_MAX - 1) + " bytes; the first skipped, with everything below it, is " +
                            EscapedForLine(folder));
      }
      if (errno == ENOSPC && !warnedWatchLimit) {
        warnedWatchLimit = true;
        WriteDiagnosticLine("Cannot watch every folder: the limit of inotify watches is reached (raise the sysctl "
                            "fs.inotify.max_user_watches); folders watched so far stay watched.");
      }
      return -1;
    }
    // A folder already watched keeps its descriptor: this re-keys it.
    directories[wd] = folder;
    if (isRoot) rootWatches[wd] = static_cast<std::size_t>(root);
    if (walked) walked->insert(wd);
    watchedCount.store(directories.size(), std::memory_order_relaxed);
    return wd;
  }

  // Watches `top` and every folder below it; reports what it finds as `report` says.
  // `root`: the index of the root `top` is, or -1 for a folder below one.
  void AddTree(const std::string& top, Report report, double since, long root) {
    std::vector<std::string> stack{top};
    bool first = true;
    while (!stack.empty() && !stopping.load(std::memory_order_relaxed)) {
      const std::string folder = std::move(stack.back());
      stack.pop_back();
      const bool isTop = first;
      const int wd = AddWatch(folder, isTop ? root : -1);
      first = false;
      if (wd < 0 && (report == Report::Nothing || (isTop && root >= 0))) continue;
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (root >= 0 && isTop ? 0 : O_NOFOLLOW));
      if (fd < 0) continue;
      DIR* dir = ::fdopendir(fd);
      if (dir == nullptr) {
        ::close(fd);
        continue;
      }
      while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        bool isFolder = entry->d_type == DT_DIR;
        std::string child = folder == "/" ? "/" + std::string(name) : folder + "/" + name;
        if (report == Report::ChangedSince || entry->d_type == DT_UNKNOWN) {
          struct stat st {};
          if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
          isFolder = S_ISDIR(st.st_mode);
          const double changed = static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9;
          if (report == Report::ChangedSince && changed >= since) Note(child);
        } else if (report == Report::Everything) {
          Note(child);
        }
        if (isFolder) stack.push_back(std::move(child));
      }
      ::closedir(dir);
    }
  }

  // A folder renamed inside the watched trees keeps its watches under the new name.
  // False when `from` itself had no watch (it vanished before one was placed).
  bool Rekey(const std::string& from, const std::string& to) {
    bool found = false;
    for (auto& [wd, path] : directories) {
      if (path == from) {
        path = to;
        found = true;
      } else if (path.size() > from.size() && path.compare(0, from.size(), from) == 0 && path[from.size()] == '/') {
        path = to + path.substr(from.size());
      }
    }
    return found;
  }

  void Unwatch(int wd) {
    ::inotify_rm_watch(inotifyFd, wd);
    directories.erase(wd);
    rootWatches.erase(wd);
  }

  // A folder moved out of the watched trees is no longer watched (nor a
  // root, with `includingRoots`: its folder went).
  void Forget(const std::string& gone, bool includingRoots = false) {
    std::vector<int> drop;
    for (const auto& [wd, path] : directories) {
      const bool below = path == gone || (path.size() > gone.size() && path.compare(0, gone.size(), gone) == 0 &&
                                          (gone == "/" || path[gone.size()] == '/'));
      if (below && (includingRoots || !rootWatches.count(wd))) drop.push_back(wd);
    }
    for (const int wd : drop) Unwatch(wd);
    watchedCount.store(directories.size(), std::memory_order_relaxed);
  }

  // --- roots that come and go -------------------------------------------------

  void ReleaseAnchor(RootState& root) {
    if (root.anchorWd < 0) return;
    const int wd = root.anchorWd;
    root.anchorWd = -1;
    root.anchor.clear();
    for (const RootState& other : roots)
      if (other.anchorWd == wd) return;  // still someone else's
    ::inotify_rm_watch(anchorFd, wd);
  }

  // Watches the nearest existing folder above the root.
  static std::string NearestExistingAbove(const std::string& path) {
    std::string folder = ParentOf(path);
    while (!folder.empty() && !IdentityOf(folder)) folder = ParentOf(folder);
    return folder;
  }

  void PlaceAnchor(RootState& root) {
    // A folder made on the way down before the new watch is in place sends
    // it no event: look again until the anchor stays put.
    for (std::string folder = NearestExistingAbove(root.path);; folder = NearestExistingAbove(root.path)) {
      if (folder == root.anchor && root.anchorWd >= 0) return;
      ReleaseAnchor(root);
      if (folder.empty()) return;
      const int wd = ::inotify_add_watch(anchorFd, folder.c_str(), kAnchorEvents);
      if (wd < 0) return;  // the folder went meanwhile: the root is looked at again by its own events
      root.anchorWd = wd;
      root.anchor = folder;
    }
  }

  // Watches the root's tree when its folder is there; `report` says what of
  // its contents is reported.
  void Establish(std::size_t index, Report report, double since) {
    RootState& root = roots[index];
    if (root.present) Forget(root.path, true);
    root.present = false;
    PlaceAnchor(root);
    const auto identity = IdentityOf(root.path);
    if (!identity) return;
    AddTree(root.path, report, since, static_cast<long>(index));
    for (const auto& [wd, which] : rootWatches) {
      if (which != index) continue;
      root.present = true;
      root.identity = *identity;
    }
  }

  // Something happened at or above a root: looks at what is there now.
  void Recheck(std::size_t index) {
    RootState& root = roots[index];
    const auto identity = IdentityOf(root.path);
    if (root.present && identity && *identity == root.identity) {
      PlaceAnchor(root);
      return;
    }
    if (root.present) {
      Note(root.path);
      Forget(root.path, true);
      root.present = false;
      if (!identity) {
        WriteDiagnosticLine("The watched folder " + root.path + " is gone; watching for it to come back.");
        PlaceAnchor(root);
        if (IdentityOf(root.path)) Recheck(index);  // already back before the anchor saw it
        return;
      }
    }
    if (!identity) {
      PlaceAnchor(root);  // a folder on the way down may have appeared
      // The root itself may have been made before the anchor could see it.
      if (IdentityOf(root.path)) Recheck(index);
      return;
    }
    // Made again, renamed into place or replaced by a link: what it holds now
    // is all new to the tracker.
    Note(root.path);
    Establish(index, Report::Everything, 0);
    if (root.present) WriteDiagnosticLine("The watched folder " + root.path + " is there again; watching it.");
  }

  void HandleAnchor(const inotify_event* event) {
    if (event->mask & IN_Q_OVERFLOW) {
      for (std::size_t i = 0; i < roots.size(); ++i) Recheck(i);
      return;
    }
    const bool anchorGone = event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED);
    for (std::size_t i = 0; i < roots.size(); ++i) {
      RootState& root = roots[i];
      if (root.anchorWd != event->wd) continue;
      if (event->mask & IN_IGNORED) {
        root.anchorWd = -1;
        root.anchor.clear();
      }
      if (anchorGone || (event->len > 0 && NextComponent(root.anchor, root.path) == event->name)) Recheck(i);
    }
  }

  void Recover(double since) {
    overflows.fetch_add(1, std::memory_order_relaxed);
    WriteDiagnosticLine("Too many changes at once: the kernel dropped file events; rescanning the watched folders "
                        "for everything changed since then.");
    // A second of slack: a change just before the last read may carry a
    // slightly earlier time. Reporting a path twice costs nothing. Walking
    // again re-keys every folder renamed meanwhile (a watched folder keeps its
    // descriptor); a watch the walk did not meet is on a folder moved out or
    // deleted during the lost events, and is dropped.
    std::unordered_set<int> met;
    walked = &met;
    for (std::size_t i = 0; i < roots.size(); ++i) {
      const RootState& root = roots[i];
      if (!root.present || IdentityOf(root.path) != std::optional<FolderIdentity>(root.identity)) {
        Recheck(i);
        continue;
      }
      Note(root.path);
      AddTree(root.path, Report::ChangedSince, since - 1.0, static_cast<long>(i));
    }
    walked = nullptr;
    std::vector<int> stale;
    for (const auto& [wd, path] : directories)
      if (!met.count(wd)) stale.push_back(wd);
    for (const int wd : stale) Unwatch(wd);
    watchedCount.store(directories.size(), std::memory_order_relaxed);
  }

  void Handle(const inotify_event* event, bool& overflowed) {
    if (event->mask & IN_Q_OVERFLOW) {
      overflowed = true;
      return;
    }
    auto found = directories.find(event->wd);
    if (found == directories.end()) return;  // a watch already given up
    const auto root = rootWatches.find(event->wd);
    if (event->mask & IN_IGNORED) {
      const bool wasRoot = root != rootWatches.end();
      const std::size_t index = wasRoot ? root->second : 0;
      rootWatches.erase(event->wd);
      directories.erase(found);
      watchedCount.store(directories.size(), std::memory_order_relaxed);
      if (wasRoot) Recheck(index);
      return;
    }
    const std::string folder = found->second;
    if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
      // Below a root the parent's event names the item; a root's own change
      // is reported here, and the root is looked for again.
      if (root != rootWatches.end()) {
        Note(folder);
        Recheck(root->second);
      }
      return;
    }
    const std::string path = event->len > 0 ? folder + "/" + event->name : folder;
    Note(path);
    if (!(event->mask & IN_ISDIR)) return;
    if (event->mask & IN_CREATE) {
      AddTree(path, Report::Everything, 0, -1);
    } else if (event->mask & IN_MOVED_FROM) {
      movedAway[event->cookie] = path;
    } else if (event->mask & IN_MOVED_TO) {
      auto from = movedAway.find(event->cookie);
      bool rekeyed = false;
      if (from != movedAway.end()) {
        rekeyed = Rekey(from->second, path);
        movedAway.erase(from);
      }
      // Moved in from outside, or made and renamed before its watch could be
      // placed (a tool building under a temporary name): new to us.
      if (!rekeyed) AddTree(path, Report::Everything, 0, -1);
    }
  }

  void ReadAnchorEvents() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(anchorFd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t offset = 0; offset < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        HandleAnchor(event);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  void ReadEvents() {
    alignas(inotify_event) char buffer[65536];
    for (;;) {
      const double readTime = WallClockSeconds();
      const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
      if (n <= 0) {
        // Empty at `readTime`: every change before it has been read. Only
        // such a moment bounds what an overflow can have lost; the time of
        // a read that left events queued does not (a queue that filled
        // while a long burst was read in pieces lost changes from before it).
        lastReadTime = readTime;
        break;
      }
      bool overflowed = false;
      for (ssize_t offset = 0; offset < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        Handle(event, overflowed);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      if (overflowed) Recover(lastReadTime);
    }
    // A folder moved away whose arrival was not seen left the watched trees.
    for (const auto& [cookie, path] : movedAway) Forget(path);
    movedAway.clear();
  }

  void Deliver() {
    lastDelivery = Clock::now();
    delivered = true;
    for (std::size_t start = 0; start < pending.size(); start += kMaxPathsPerDelivery) {
      const std::size_t end = std::min(pending.size(), start + kMaxPathsPerDelivery);
      delivery->Push(std::vector<std::string>(
          std::make_move_iterator(pending.begin() + static_cast<std::ptrdiff_t>(start)),
          std::make_move_iterator(pending.begin() + static_cast<std::ptrdiff_t>(end))));
    }
    pending.clear();
    pendingSet.clear();
  }

  void Run() {
    lastReadTime = WallClockSeconds();
    for (std::size_t i = 0; i < roots.size(); ++i) {
      Establish(i, Report::Nothing, 0);
      struct stat st {};
      if (roots[i].present) continue;
      if (::stat(roots[i].path.c_str(), &st) != 0)
        WriteDiagnosticLine("The watched folder " + roots[i].path + " does not exist; watching for it to appear.");
      else if (!S_ISDIR(st.st_mode))
        WriteDiagnosticLine("The watched folder " + roots[i].path +
                            " is not a folder; watching for a folder to take its place.");
    }
    {
      std::lock_guard lock(stateMutex);
      watching = true;
    }
    stateChanged.notify_all();

    while (!stopping.load()) {
      int timeoutMs = -1;
      if (!pending.empty()) {
        const auto due = lastDelivery + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latency));
        const auto now = Clock::now();
        // The first change after a quiet period goes at once; later ones wait
        // for the end of the latency window.
        if (!delivered || now >= due) {
          Deliver();
          continue;
        }
        timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
      }
      pollfd fds[3] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}, {anchorFd, POLLIN, 0}};
      const int ready = ::poll(fds, 3, timeoutMs);
      if (ready < 0 && errno != EINTR) break;
      if (fds[1].revents) break;
      while (gHoldReaders.load() && !stopping.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (fds[0].revents) ReadEvents();
      if (fds[2].revents) ReadAnchorEvents();
    }
  }
};

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::Create(const std::vector<std::string>& roots, MainLoop* loop,
                                                           Callback callback, double latency, std::string* error) {
  if (loop == nullptr) {
    if (error) *error = "no main loop to deliver changes on";
    return nullptr;
  }
  std::unique_ptr<DirectoryWatcher> watcher(new DirectoryWatcher());
  watcher->impl_ = std::make_unique<Impl>();
  Impl& d = *watcher->impl_;
  for (const std::string& root : roots) {
    RootState state;
    state.path = root;
    // "/cloud/" is "/cloud": reported paths never hold "//".
    while (state.path.size() > 1 && state.path.back() == '/') state.path.pop_back();
    d.roots.push_back(std::move(state));
  }
  d.loop = loop;
  d.latency = latency;
  d.delivery->callback = std::move(callback);
  d.delivery->loop = loop;
  d.inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  d.anchorFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  d.stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (d.inotifyFd < 0 || d.anchorFd < 0 || d.stopFd < 0) {
    if (error) *error = std::string("inotify: ") + std::strerror(errno);
    return nullptr;
  }
  try {
    d.reader = std::thread([&d] { d.Run(); });
  } catch (const std::system_error& e) {
    if (error) *error = e.what();
    return nullptr;
  }
  return watcher;
}

DirectoryWatcher::~DirectoryWatcher() {
  {
    std::lock_guard lock(impl_->delivery->mutex);
    impl_->delivery->callback = nullptr;  // batches already posted are dropped
    impl_->delivery->batches.clear();
  }
  impl_->stopping = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(impl_->stopFd, &one, sizeof one);
  if (impl_->reader.joinable()) impl_->reader.join();
}

void DirectoryWatcher::HoldReadersForTesting(bool hold) { gHoldReaders = hold; }

bool DirectoryWatcher::WaitUntilWatching(double timeoutSeconds) const {
  std::unique_lock lock(impl_->stateMutex);
  return impl_->stateChanged.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                      [this] { return impl_->watching; });
}

DirectoryWatcher::Statistics DirectoryWatcher::GetStatistics() const {
  return {impl_->watchedCount.load(), impl_->overflows.load()};
}

}  // namespace vantorel
