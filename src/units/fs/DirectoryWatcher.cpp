// The watcher's reader thread: drains both inotify queues as soon as they
// are readable, gathers changed paths for the latency window and hands them
// to the main loop in batches; and the watcher's public face.

#include "units/fs/DirectoryWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "units/fs/DirectoryWatcherImpl.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {

std::atomic<bool> gHoldReaders{false};

double WallClockSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The name under `folder` on the way down to `path` ("a" for "/x" and "/x/a/b").
std::string NextComponent(const std::string& folder, const std::string& path) {
  const std::size_t start = folder == "/" ? 1 : folder.size() + 1;
  if (path.size() <= start) return {};
  const std::size_t end = path.find('/', start);
  return path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

void DirectoryWatcher::Impl::HandleAnchor(const inotify_event* event) {
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

void DirectoryWatcher::Impl::Handle(const inotify_event* event, bool& overflowed) {
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

void DirectoryWatcher::Impl::ReadAnchorEvents() {
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

void DirectoryWatcher::Impl::ReadEvents() {
  // Set before the kernel's queue is read and cleared once what was read is
  // noted: a change is always in at least one of the places
  // HasChangesNotHandedOver looks.
  reading.store(true);
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
  reading.store(false);
}

void DirectoryWatcher::Impl::Deliver() {
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
  pendingCount.store(0);
}

void DirectoryWatcher::Impl::Run() {
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
      const auto due =
          lastDelivery + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latency));
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

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::Create(const std::vector<std::string>& roots, MainLoop* loop,
                                                           Callback callback, double latency, std::string* error,
                                                           std::size_t mostFolders) {
  if (loop == nullptr) {
    if (error) *error = "no main loop to deliver changes on";
    return nullptr;
  }
  std::unique_ptr<DirectoryWatcher> watcher(new DirectoryWatcher());
  watcher->impl_ = std::make_unique<Impl>();
  Impl& d = *watcher->impl_;
  for (const std::string& root : roots) {
    watching::RootState state;
    state.path = root;
    // "/cloud/" is "/cloud": reported paths never hold "//".
    while (state.path.size() > 1 && state.path.back() == '/') state.path.pop_back();
    d.roots.push_back(std::move(state));
  }
  d.loop = loop;
  d.latency = latency;
  d.mostFolders = mostFolders;
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

bool DirectoryWatcher::HasChangesNotHandedOver() const {
  // Looked at in the order a change moves through them (the kernel's queue,
  // the reader, its pending paths, the batches for the main loop), each
  // filled before the one before it is emptied, so a change on its way is
  // never missed between two looks.
  int queued = 0;
  if (::ioctl(impl_->inotifyFd, FIONREAD, &queued) == 0 && queued > 0) return true;
  if (impl_->reading.load() || impl_->pendingCount.load() > 0) return true;
  std::lock_guard lock(impl_->delivery->mutex);
  return !impl_->delivery->batches.empty();
}

DirectoryWatcher::Statistics DirectoryWatcher::GetStatistics() const {
  return {impl_->watchedCount.load(), impl_->overflows.load()};
}

}  // namespace vantorel
