#include "units/runtime/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "units/fs/PrivateFolder.h"

namespace vantorel {

namespace {
constexpr const char* kLockName = "instance.lock";

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

pid_t ReadHolder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(text, text + n, pid);
  return ec == std::errc() && pid > 0 ? pid : 0;
}
}  // namespace

std::string InstanceLock::DefaultPath(const std::string& supportFolder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && IsFolder(runtime))
    return std::string(runtime) + "/vantorel/" + kLockName;
  return supportFolder + "/" + kLockName;
}

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::string& path, pid_t* holder, std::string* error) {
  *holder = 0;
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  // The same rule as the control socket's folder: a lock made through a
  // link, or in a folder someone else can write to, guards nothing.
  if (!PreparePrivateFolder(folder, "the instance lock", error)) return nullptr;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int saved = errno;
    if (saved == EWOULDBLOCK) {
      *holder = ReadHolder(fd);
    } else {
      *error = "cannot lock " + path + ": " + std::strerror(saved);
    }
    ::close(fd);
    return nullptr;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock is what matters; the number only helps the message.
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  // The file stays: removing it would race with the next instance taking it.
  ::close(fd_);
}

}  // namespace vantorel
