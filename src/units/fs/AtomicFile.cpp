#include "units/fs/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantorel {

namespace {

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string folder = ParentOf(path);
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + name + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + folder);

  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);

  const char* data = bytes.data();
  std::size_t left = bytes.size();
  bool ok = true;
  std::string failure;
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = Fail(&failure, "cannot write " + temp);
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = Fail(&failure, "cannot flush " + temp);
  if (::close(fd) != 0 && ok) ok = Fail(&failure, "cannot close " + temp);
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = Fail(&failure, "cannot replace " + path);
  if (!ok) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    if (error) *error = failure;
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error, int* errorNumber) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errorNumber) *errorNumber = errno;
    if (error) *error = std::strerror(errno);
    return std::nullopt;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errorNumber) *errorNumber = errno;
      if (error) *error = std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (errorNumber) *errorNumber = 0;
  return content;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = ParentOf(path);
  if (parent != path && !MakeDirectories(parent)) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace vantorel
