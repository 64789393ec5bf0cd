// The watcher's per-folder bookkeeping, on the reader thread: which folder
// each watch descriptor is on, trees walked and watched, renamed folders
// re-keyed, roots that vanish and come back (their anchors above them), and
// the walk that recovers from an overflow of the kernel's queue.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "units/fs/DirectoryWatcherImpl.h"
#include "units/fs/OwnFiles.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel {

using watching::FolderIdentity;
using watching::kAnchorEvents;
using watching::kDirectoryEvents;

namespace {

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

}  // namespace

void DirectoryWatcher::Impl::Note(const std::string& path) {
  if (IsOwnFile(path)) return;
  if (!pendingSet.insert(path).second) return;
  pending.push_back(path);
  pendingCount.store(pending.size());
}

int DirectoryWatcher::Impl::AddWatch(const std::string& folder, long root) {
  const bool isRoot = root >= 0;
  // Roots may be links to the real folder; nothing below them is followed.
  const std::uint32_t mask = kDirectoryEvents | (isRoot ? 0 : IN_DONT_FOLLOW);
  if (directories.size() >= mostFolders) {
    if (!warnedFolderLimit)
      WriteDiagnosticLine("Cannot watch more than " + std::to_string(mostFolders) +
                          " folders in all; folders watched so far stay watched, the first skipped is " +
                          EscapedForLine(folder));
    warnedFolderLimit = true;
    return -1;
  }
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

void DirectoryWatcher::Impl::AddTree(const std::string& top, Report report, double since, long root) {
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

bool DirectoryWatcher::Impl::Rekey(const std::string& from, const std::string& to) {
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

void DirectoryWatcher::Impl::Unwatch(int wd) {
  ::inotify_rm_watch(inotifyFd, wd);
  directories.erase(wd);
  rootWatches.erase(wd);
}

void DirectoryWatcher::Impl::Forget(const std::string& gone, bool includingRoots) {
  std::vector<int> drop;
  for (const auto& [wd, path] : directories) {
    const bool below = path == gone || (path.size() > gone.size() && path.compare(0, gone.size(), gone) == 0 &&
                                        (gone == "/" || path[gone.size()] == '/'));
    if (below && (includingRoots || !rootWatches.count(wd))) drop.push_back(wd);
  }
  for (const int wd : drop) Unwatch(wd);
  watchedCount.store(directories.size(), std::memory_order_relaxed);
}

void DirectoryWatcher::Impl::ReleaseAnchor(RootState& root) {
  if (root.anchorWd < 0) return;
  const int wd = root.anchorWd;
  root.anchorWd = -1;
  root.anchor.clear();
  for (const RootState& other : roots)
    if (other.anchorWd == wd) return;  // still someone else's
  ::inotify_rm_watch(anchorFd, wd);
}

std::string DirectoryWatcher::Impl::NearestExistingAbove(const std::string& path) {
  std::string folder = ParentOf(path);
  while (!folder.empty() && !IdentityOf(folder)) folder = ParentOf(folder);
  return folder;
}

void DirectoryWatcher::Impl::PlaceAnchor(RootState& root) {
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

void DirectoryWatcher::Impl::Establish(std::size_t index, Report report, double since) {
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

void DirectoryWatcher::Impl::Recheck(std::size_t index) {
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

void DirectoryWatcher::Impl::Recover(double since) {
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

}  // namespace vantorel
