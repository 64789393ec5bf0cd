#pragma once
// A recursive watch over folder trees, on inotify: the stand-in for the
// file-system event stream the tracker listens to.
//
// Every directory below each root is watched, including directories created
// or moved in later (their existing contents are reported as they are found,
// which closes the race with files created before the watch was in place).
// Renamed directories keep their watches under the new name; directories
// moved out are no longer watched. Changes to a root itself (removed, moved)
// are reported under the root's path. Symbolic links are never followed.
// Changes to this process's own files (OwnFiles.h) are left out.
//
// A reader thread drains the kernel's queue at once, whatever the main thread
// is doing, and collects the changed paths; the first change after a quiet
// period is handed over at once, later ones are gathered for `latency`
// seconds. Paths reach the callback on the main loop, in batches small
// enough not to hold the loop up. When the kernel's queue overflows, the
// roots are walked again and every item changed since the last event read is
// reported; nothing is lost.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantorel {

class MainLoop;

class DirectoryWatcher {
public:
  using Callback = std::function<void(const std::vector<std::string>& paths)>;

  struct Statistics {
    std::size_t watchedDirectories = 0;
    std::size_t overflows = 0;
  };

  // Starts watching `roots` (the walk that places the watches runs on the
  // reader thread), at most `mostFolders` folders in all (said once when
  // reached, as the system's own limit is). Null, with `error` set, when
  // inotify cannot be used.
  static std::unique_ptr<DirectoryWatcher> Create(const std::vector<std::string>& roots, MainLoop* loop,
                                                  Callback callback, double latency = 1.0,
                                                  std::string* error = nullptr, std::size_t mostFolders = SIZE_MAX);
  // Stops the reader thread; no callback runs after this returns on the main
  // thread.
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Waits until the initial watches are in place; false on timeout.
  bool WaitUntilWatching(double timeoutSeconds) const;
  Statistics GetStatistics() const;
  // Main thread: whether a change has happened that the callback has not
  // been given yet (still in the kernel's queue, being read, waiting for the
  // latency window, or posted to the main loop).
  bool HasChangesNotHandedOver() const;

  // Holds every reader thread back from the kernel's queue (tests: to make
  // the queue overflow on purpose).
  static void HoldReadersForTesting(bool hold);

  // Largest number of paths handed to the main loop in one task.
  static constexpr std::size_t kMaxPathsPerDelivery = 1000;

private:
  DirectoryWatcher() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vantorel
