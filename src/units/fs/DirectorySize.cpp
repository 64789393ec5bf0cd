#include "units/fs/DirectorySize.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {

struct Walk {
  FSDirectorySizeCallback callback;
  void* userData;
};

// Measures the open folder `dirFd` (taking ownership of it). `path` is only
// used to build references for the callback.
std::uint64_t SizeOfFolder(int dirFd, const std::string& path, const Walk& walk) {
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return 0;
  }
  std::uint64_t total = 0;
  bool cancelled = false;
  while (!cancelled) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;  // the end, or a listing error: either way stop here
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;

    bool isFolder = entry->d_type == DT_DIR;
    struct stat st {};
    const bool needStat = entry->d_type != DT_DIR || walk.callback != nullptr;
    if (needStat) {
      if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) break;
      isFolder = S_ISDIR(st.st_mode);
    }
    if (isFolder) {
      std::string childPath;
      if (walk.callback != nullptr) {
        childPath = stringByAppendingPathComponent(path, name);
        FSRef child{true, st.st_dev, st.st_ino, childPath};
        cancelled = walk.callback(walk.userData, child);
      }
      if (!cancelled) {
        const int childFd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (childFd >= 0) total += SizeOfFolder(childFd, childPath, walk);
      }
    } else {
      total += static_cast<std::uint64_t>(st.st_size);
    }
  }
  ::closedir(dir);
  return total;
}

}  // namespace

std::uint64_t FSGetDirectorySize(const FSRef& folder) { return FSGetDirectorySize(folder, nullptr, nullptr); }

std::uint64_t FSGetDirectorySize(const FSRef& folder, FSDirectorySizeCallback callback, void* userData) {
  if (!folder.valid) return 0;
  const int fd = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_dev != folder.device || st.st_ino != folder.inode) {
    ::close(fd);
    return 0;
  }
  return SizeOfFolder(fd, folder.path, Walk{callback, userData});
}

}  // namespace vantorel
