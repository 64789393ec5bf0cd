#include "engine/DirectoryWatcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "units/Diagnostics.h"
#include "units/MainLoop.h"
#include "units/OwnFiles.h"

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

}  // namespace

struct DirectoryWatcher::Impl {
  std::vector<std::string> roots;
  MainLoop* loop = nullptr;
  double latency = 1.0;
  std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
  int inotifyFd = -1;
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
  std::unordered_set<int> rootWatches;
  std::unordered_map<std::uint32_t, std::string> movedAway;  // cookie -> old path, until its partner arrives
  std::vector<std::string> pending;
  std::unordered_set<std::string> pendingSet;
  bool delivered = false;
  Clock::time_point lastDelivery;
  double lastReadTime = 0;  // wall clock, when the queue was last read empty
  bool warnedWatchLimit = false;

  ~Impl() {
    if (inotifyFd >= 0) ::close(inotifyFd);
    if (stopFd >= 0) ::close(stopFd);
  }

  void Note(const std::string& path) {
    if (IsOwnFile(path)) return;
    if (pendingSet.insert(path).second) pending.push_back(path);
  }

  int AddWatch(const std::string& folder, bool isRoot) {
    // Roots may be links to the real folder; nothing below them is followed.
    const std::uint32_t mask = kDirectoryEvents | (isRoot ? 0 : IN_DONT_FOLLOW);
    const int wd = ::inotify_add_watch(inotifyFd, folder.c_str(), mask);
    if (wd < 0) {
      if (isRoot && errno != ENOSPC) {
        WriteDiagnosticLine("Cannot watch " + folder + ": " + std::strerror(errno));
        return -1;
      }
      if (errno == ENOSPC && !warnedWatchLimit) {
        warnedWatchLimit = true;
        WriteDiagnosticLine("Cannot watch every folder: the limit of inotify watches is reached (raise the sysctl "
                            "fs.inotify.max_user_watches); folders watched so far stay watched.");
      }
      return -1;
    }
    directories[wd] = folder;
    if (isRoot) rootWatches.insert(wd);
    watchedCount.store(directories.size(), std::memory_order_relaxed);
    return wd;
  }

  // Watches `top` and every folder below it; reports what it finds as `report` says.
  void AddTree(const std::string& top, Report report, double since, bool isRoot) {
    std::vector<std::string> stack{top};
    bool first = true;
    while (!stack.empty() && !stopping.load(std::memory_order_relaxed)) {
      const std::string folder = std::move(stack.back());
      stack.pop_back();
      const int wd = AddWatch(folder, first && isRoot);
      first = false;
      if (wd < 0 && report == Report::Nothing) continue;
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot && folder == top ? 0 : O_NOFOLLOW));
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
  void Rekey(const std::string& from, const std::string& to) {
    for (auto& [wd, path] : directories) {
      if (path == from)
        path = to;
      else if (path.size() > from.size() && path.compare(0, from.size(), from) == 0 && path[from.size()] == '/')
        path = to + path.substr(from.size());
    }
  }

  // A folder moved out of the watched trees is no longer watched.
  void Forget(const std::string& gone) {
    for (auto it = directories.begin(); it != directories.end();) {
      const std::string& path = it->second;
      const bool below = path == gone || (path.size() > gone.size() && path.compare(0, gone.size(), gone) == 0 &&
                                          path[gone.size()] == '/');
      if (below && !rootWatches.count(it->first)) {
        ::inotify_rm_watch(inotifyFd, it->first);
        it = directories.erase(it);
      } else {
        ++it;
      }
    }
    watchedCount.store(directories.size(), std::memory_order_relaxed);
  }

  void Recover(double since) {
    overflows.fetch_add(1, std::memory_order_relaxed);
    WriteDiagnosticLine("Too many changes at once: the kernel dropped file events; rescanning the watched folders "
                        "for everything changed since then.");
    // A second of slack: a change just before the last read may carry a
    // slightly earlier time. Reporting a path twice costs nothing.
    for (const std::string& root : roots) {
      Note(root);
      AddTree(root, Report::ChangedSince, since - 1.0, true);
    }
  }

  void Handle(const inotify_event* event, bool& overflowed) {
    if (event->mask & IN_Q_OVERFLOW) {
      overflowed = true;
      return;
    }
    auto found = directories.find(event->wd);
    if (found == directories.end()) return;  // a watch already given up
    if (event->mask & IN_IGNORED) {
      rootWatches.erase(event->wd);
      directories.erase(found);
      watchedCount.store(directories.size(), std::memory_order_relaxed);
      return;
    }
    const std::string folder = found->second;
    if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
      // Below a root the parent's event names the item; a root has no
      // watched parent, so it is reported here.
      if (rootWatches.count(event->wd)) Note(folder);
      return;
    }
    const std::string path = event->len > 0 ? folder + "/" + event->name : folder;
    Note(path);
    if (!(event->mask & IN_ISDIR)) return;
    if (event->mask & IN_CREATE) {
      AddTree(path, Report::Everything, 0, false);
    } else if (event->mask & IN_MOVED_FROM) {
      movedAway[event->cookie] = path;
    } else if (event->mask & IN_MOVED_TO) {
      auto from = movedAway.find(event->cookie);
      if (from != movedAway.end()) {
        Rekey(from->second, path);
        movedAway.erase(from);
      } else {
        AddTree(path, Report::Everything, 0, false);  // moved in from outside
      }
    }
  }

  void ReadEvents() {
    alignas(inotify_event) char buffer[65536];
    for (;;) {
      const double readTime = WallClockSeconds();
      const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
      if (n <= 0) break;
      bool overflowed = false;
      for (ssize_t offset = 0; offset < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        Handle(event, overflowed);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      if (overflowed) Recover(lastReadTime);
      lastReadTime = readTime;
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
    for (const std::string& root : roots) AddTree(root, Report::Nothing, 0, true);
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
      pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
      const int ready = ::poll(fds, 2, timeoutMs);
      if (ready < 0 && errno != EINTR) break;
      if (fds[1].revents) break;
      while (gHoldReaders.load() && !stopping.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (fds[0].revents) ReadEvents();
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
  d.roots = roots;
  d.loop = loop;
  d.latency = latency;
  d.delivery->callback = std::move(callback);
  d.delivery->loop = loop;
  d.inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  d.stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (d.inotifyFd < 0 || d.stopFd < 0) {
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
