#pragma once
// One running instance per user: an exclusive advisory lock (flock) on a
// file that holds the running instance's process number. The kernel drops
// the lock when the process ends, however it ends, so a crash leaves nothing
// stale behind.

#include <sys/types.h>

#include <memory>
#include <string>

namespace vantorel {

class InstanceLock {
public:
  // "$XDG_RUNTIME_DIR/vantorel/instance.lock" when that folder exists (the
  // "vantorel" folder made private to the user), else "instance.lock" in
  // `supportFolder`.
  static std::string DefaultPath(const std::string& supportFolder);

  // Takes the lock at `path` (making its folder when missing). Null when it
  // cannot be had: `holder` is then the process holding it (0 when unknown),
  // and `error` says why when nobody holds it. Touches no file when the lock
  // is taken by someone else.
  static std::unique_ptr<InstanceLock> Acquire(const std::string& path, pid_t* holder, std::string* error);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vantorel
