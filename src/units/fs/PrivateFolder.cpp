#include "units/fs/PrivateFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "units/fs/AtomicFile.h"

namespace vantorel {

bool PreparePrivateFolder(const std::string& folder, const std::string& what, std::string* error) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT || !MakeDirectories(folder) || ::chmod(folder.c_str(), 0700) != 0) {
      *error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
    if (::lstat(folder.c_str(), &st) != 0) {
      *error = "cannot look at " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  const std::string refusal = "; refusing to put " + what + " there";
  if (S_ISLNK(st.st_mode)) {
    *error = folder + " is a symbolic link, not a folder of this user's own" + refusal;
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = folder + " is not a folder" + refusal;
    return false;
  }
  if (st.st_uid != ::getuid()) {
    *error = folder + " belongs to another user (uid " + std::to_string(st.st_uid) + ")" + refusal;
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = folder + " is open to other users (mode " + mode + ")" + refusal;
    return false;
  }
  return true;
}

}  // namespace vantorel
