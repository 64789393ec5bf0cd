#pragma once
// The watcher's insides, shared by its two files: DirectoryWatcher.cpp runs
// the reader thread's event loop (the kernel's queues, handing batches to the
// main loop); DirectoryWatcherFolders.cpp keeps the per-folder bookkeeping
// (which folder each watch is on, roots that come and go, the walk after an
// overflow).
//
// Threads: everything in Impl marked as the reader thread's is touched by
// that thread alone; `stateMutex` guards `watching`; Delivery has its own
// lock, since tasks on the main loop may outlive the watcher.

#include <sys/inotify.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "units/fs/DirectoryWatcher.h"
#include "units/runtime/MainLoop.h"

namespace vantorel {

namespace watching {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kDirectoryEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                           IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                           IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr std::uint32_t kAnchorEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

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

// What a walk reports of the items it finds.
enum class Report { Nothing, Everything, ChangedSince };

// The identity of a folder: where a root's watched tree really is.
struct FolderIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FolderIdentity&) const = default;
};

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

}  // namespace watching

struct DirectoryWatcher::Impl {
  using Clock = watching::Clock;
  using Report = watching::Report;
  using RootState = watching::RootState;
  using Delivery = watching::Delivery;

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
  // Written by the reader thread, read by HasChangesNotHandedOver: the
  // reader is between reading the kernel's queue and noting what it read;
  // how many paths wait for the latency window.
  std::atomic<bool> reading{false};
  std::atomic<std::size_t> pendingCount{0};

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
  std::size_t mostFolders = SIZE_MAX;
  bool warnedWatchLimit = false;
  bool warnedFolderLimit = false;
  bool warnedPathLimit = false;

  ~Impl() {
    if (inotifyFd >= 0) ::close(inotifyFd);
    if (anchorFd >= 0) ::close(anchorFd);
    if (stopFd >= 0) ::close(stopFd);
  }

  // --- per folder (DirectoryWatcherFolders.cpp) ------------------------------

  void Note(const std::string& path);
  // `root`: the index of the root this folder is, or -1 for a folder below one.
  int AddWatch(const std::string& folder, long root);
  // Watches `top` and every folder below it; reports what it finds as `report` says.
  // `root`: the index of the root `top` is, or -1 for a folder below one.
  void AddTree(const std::string& top, Report report, double since, long root);
  // A folder renamed inside the watched trees keeps its watches under the new name.
  // False when `from` itself had no watch (it vanished before one was placed).
  bool Rekey(const std::string& from, const std::string& to);
  void Unwatch(int wd);
  // A folder moved out of the watched trees is no longer watched (nor a
  // root, with `includingRoots`: its folder went).
  void Forget(const std::string& gone, bool includingRoots = false);

  // --- roots that come and go -------------------------------------------------

  void ReleaseAnchor(RootState& root);
  // Watches the nearest existing folder above the root.
  static std::string NearestExistingAbove(const std::string& path);
  void PlaceAnchor(RootState& root);
  // Watches the root's tree when its folder is there; `report` says what of
  // its contents is reported.
  void Establish(std::size_t index, Report report, double since);
  // Something happened at or above a root: looks at what is there now.
  void Recheck(std::size_t index);
  // Walks the trees again after the kernel dropped events, reporting what
  // changed since `since` and dropping watches on folders gone meanwhile.
  void Recover(double since);

  // --- the event loop (DirectoryWatcher.cpp) -----------------------------------

  void HandleAnchor(const inotify_event* event);
  void Handle(const inotify_event* event, bool& overflowed);
  void ReadAnchorEvents();
  void ReadEvents();
  void Deliver();
  void Run();
};

}  // namespace vantorel
