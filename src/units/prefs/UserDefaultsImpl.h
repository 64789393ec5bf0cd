#pragma once
// The preferences store's insides, shared by its two files: UserDefaultsFile.cpp
// keeps the domain and its file in step (reading, taking in another
// process's changes, saving, watching the folder, telling observers);
// UserDefaults.cpp is the store's typed face.
//
// Threads: `mutex` guards the domain, the unsaved changes and what is known
// of the file; `observersMutex` the observer table, never held while an
// observer runs. Across processes, FolderLock serialises read-modify-write.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "units/prefs/UserDefaults.h"
#include "units/runtime/MainLoop.h"

namespace vantorel {

namespace prefs {

// Identifies one version of the file: an atomic replacement changes the inode,
// an in-place edit changes size or times.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path);

// An exclusive advisory lock on the folder, held while one process reads,
// changes and rewrites the file. Without the folder there is nothing to lock.
class FolderLock {
public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_;
};

}  // namespace prefs

struct TUserDefaults::Impl : std::enable_shared_from_this<Impl> {
  using FileStamp = prefs::FileStamp;
  using FolderLock = prefs::FolderLock;

  std::string filePath;
  std::string folder;
  std::string fileName;
  MainLoop* loop = nullptr;
  bool readOnly = false;

  // `mutex` guards the domain, the unsaved changes and what is known of the file.
  mutable std::mutex mutex;
  PlistValue::Dictionary domain;
  // Changes not yet in the file: a value, or nothing for a removal.
  std::map<std::string, std::optional<PlistValue>> unsaved;
  FileStamp stamp;
  bool fileUnreadable = false;
  std::optional<std::string> fileProblem;
  // The last save failure told; the same one is not told again at every
  // write, only once it has cleared and comes back.
  std::string toldSaveProblem;

  // `observersMutex` guards the observer table; never held while one runs.
  std::mutex observersMutex;
  std::map<ObserverId, std::pair<std::string, Observer>> observers;
  ObserverId nextObserver = 1;

  int inotifyFd = -1;
  MainLoop::WatchId watch = 0;

  void LoadLocked();
  // Takes in the file when another process changed it since it was last read
  // or written; appends the keys whose values changed to `changed`.
  void RefreshLocked(std::vector<std::string>& changed);
  bool SaveFailed(const std::string& line);
  bool SaveLocked();
  void Notify(const std::vector<std::string>& changed);
  // Runs on the main loop when the folder changed.
  void OnFolderEvents();
  void StartWatching();
  // Every write: under the folder lock, take in what another process wrote,
  // make the change, save, then tell the observers. False when refused or
  // not saved.
  template <typename Change>
  bool Write(Change change) {
    if (readOnly) return false;
    std::vector<std::string> changed;
    bool saved;
    {
      std::lock_guard lock(mutex);
      FolderLock folderLock(folder);
      RefreshLocked(changed);
      change(changed);
      saved = SaveLocked() && !fileUnreadable;
    }
    Notify(changed);
    return saved;
  }

  bool ApplyAndSave(const std::string& key, std::optional<PlistValue> value) {
    return Write([&](std::vector<std::string>& changed) {
      auto it = domain.find(key);
      const bool differs = value ? (it == domain.end() || !(it->second == *value)) : it != domain.end();
      if (!differs) return;
      if (value)
        domain.insert_or_assign(key, *value);
      else
        domain.erase(it);
      unsaved.insert_or_assign(key, std::move(value));
      changed.push_back(key);
    });
  }
};

}  // namespace vantorel
