// What the directory watcher reports: queued for examination, and the
// transfers of what is gone ended at once.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
#include <unordered_set>

#include "units/fs/DirectoryWatcher.h"
#include "engine/Tracker.h"
#include "units/fs/PathSafety.h"
#include "units/fs/PathUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"

namespace vantorel {

void TICloudTracker::MonitorDirectories(const std::vector<std::string>& folders) {
  eventStream_.reset();  // the running stream stops before the new one starts
  watchedFolders_.clear();
  std::string error;
  eventStream_ = DirectoryWatcher::Create(
      folders, MainLoop::Main(), [this](const std::vector<std::string>& paths) { DirectoryChangedCallback(paths); },
      options_.watchLatency, &error, kMostFoldersInSyncRoots);
  if (!eventStream_) {
    // Nothing more: a later Reload does nothing either.
    WriteDiagnosticLine("Fatal: FSEventStreamCreate returned nil.");
    started_ = false;
    return;
  }
  started_ = true;
  watchedFolders_ = folders;
}

void TICloudTracker::DirectoryChangedCallback(const std::vector<std::string>& paths) {
  DropVanishedTransfers(paths);
  for (const std::string& path : paths) QueueFile(path);
}

void TICloudTracker::DropVanishedTransfers(const std::vector<std::string>& paths) {
  // A deletion the watcher reported ends the transfers it takes with it at
  // once, as vanished (never completed): left to the passes, a deleted tree
  // of many files in progress would take hours to leave, 25 a pass. A
  // download's placeholder is expected to go (its item replaces it): the
  // passes decide about those.
  {
    // Nothing in progress, nothing to end: no look at the disk (the common
    // case, and a burst of new files costs the main thread nothing more).
    std::lock_guard lock(transfersLock_);
    if (transfers_.Empty()) return;
  }
  std::unordered_set<std::string_view> gone;
  // The files reported with them that are there: a rename's new name.
  std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*> there;
  for (const std::string& path : paths) {
    struct stat st {};
    if (source_.IsDownloadFile(path)) continue;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) gone.insert(path);
    } else if (S_ISREG(st.st_mode)) {
      there[{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}] = &path;
    }
  }
  if (gone.empty()) return;
  // Told after the lock is let go: the delegate reads the sets.
  if (EndOrRenameGoneTransfers(gone, there)) SendStatusChanged(false);
}

bool TICloudTracker::EndOrRenameGoneTransfers(
    const std::unordered_set<std::string_view>& gone,
    const std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*>& there) {
  std::lock_guard lock(transfersLock_);
  if (transfers_.Empty()) return false;
  bool folderMayHaveGone = false;
  bool renamed = false;
  for (const std::string_view path : gone) {
    const std::string key(path);
    if (!transfers_.Contains(key)) {
      folderMayHaveGone = true;  // a folder, or an item not in progress
      continue;
    }
    const auto file = transferFiles_.find(key);
    const auto to = file == transferFiles_.end() ? there.end() : there.find(file->second);
    if (to != there.end() && IsWatchedPath(*to->second)) {
      RenameTransferLocked(key, *to->second);
      renamed = true;
    } else {
      transfers_.Remove(key);
    }
  }
  // Entries of paths no longer in progress go now and then.
  if (transferFiles_.size() > 2 * static_cast<std::size_t>(transfers_.Size()) + 64)
    std::erase_if(transferFiles_, [this](const auto& entry) { return !transfers_.Contains(entry.first); });
  if (!folderMayHaveGone || transfers_.Empty()) return renamed;
  // Whatever was in progress below a deleted (or moved away) folder.
  std::vector<std::string> below;
  transfers_.ForEach([&](const std::string& path) {
    for (std::string_view folder = parentPathView(path); folder.size() > 1; folder = parentPathView(folder)) {
      if (gone.count(folder)) {
        below.push_back(path);
        break;
      }
    }
    return true;
  });
  for (const std::string& path : below) transfers_.Remove(path);
  return renamed;
}

void TICloudTracker::RenameTransferLocked(const std::string& from, const std::string& to) {
  const bool download = downloadsInProgress_.Contains(from);
  const bool counted = totalTransfers_.Contains(from);
  transfers_.Remove(from);
  if (counted) totalTransfers_.Remove(from);
  if (!transfers_.Contains(to)) {
    transfers_.Add(to);
    if (download) downloadsInProgress_.Add(to);
  }
  if (counted && !totalTransfers_.Contains(to)) totalTransfers_.Add(to);
  transferFiles_[to] = transferFiles_[from];
  transferFiles_.erase(from);
}

bool TICloudTracker::IsWatchedPath(const std::string& path) const {
  if (!IsPlainAbsolutePath(path)) return false;
  const auto within = [&](const std::string& folder) { return IsWithinFolder(path, folder); };
  return std::any_of(sourceRoots_.begin(), sourceRoots_.end(), within) ||
         std::any_of(watchedFolders_.begin(), watchedFolders_.end(), within);
}

bool TICloudTracker::HasUnexaminedPaths() const {
  // The watcher first: a change leaves it only once it is in the queue.
  return (eventStream_ && eventStream_->HasChangesNotHandedOver()) || queue_.HasUnexamined();
}

}  // namespace vantorel
