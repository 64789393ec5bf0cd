#include "engine/TransferLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "units/fs/AtomicFile.h"
#include "units/fs/OwnFiles.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
constexpr std::size_t kLogEntryMaxBytes = 254;

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace

void TransferLog::SetPath(std::string path) {
  std::lock_guard lock(pathLock_);
  path_ = std::move(path);
}

std::optional<std::string> TransferLog::Path() const {
  std::lock_guard lock(pathLock_);
  return path_;
}

void TransferLog::Append(const std::string& text) {
  written_ = true;
  if (fd_ < 0) {
    const auto path = Path();
    if (!path) return;
    // Registered before it is created or written: its own events must never
    // come back as a transfer (which would log another line).
    RegisterOwnFile(*path);
    // Only a regular file of the user's own: a link in its place (to
    // ~/.bashrc, say) would have every entry appended to its target.
    std::string problem;
    const int fd = OpenFileForAppend(*path, &problem);
    if (fd < 0) {
      UnregisterOwnFile(*path);
      Failed(*path, problem);
      return;  // dropped; the next entry tries again
    }
    fd_ = fd;
    openPath_ = *path;
  }
  const off_t end = ::lseek(fd_, 0, SEEK_END);
  if (!WriteAll(fd_, TruncateUtf8(text, kLogEntryMaxBytes) + "\n")) {
    const int error = errno;
    // A line cut off by a full disk would run into the next one written.
    if (end >= 0 && ::ftruncate(fd_, end) != 0) {
      // Left as it is: the next line starts after the cut one.
    }
    Failed(openPath_, std::strerror(error));
    return;
  }
  if (failing_) WriteDiagnosticLine("Writing the transfer log " + openPath_ + " again.");
  failing_ = false;
}

void TransferLog::Failed(const std::string& path, const std::string& why) {
  // Once while it keeps failing, not at every finished file.
  if (!failing_)
    WriteDiagnosticLine("Failed to write to the transfer log " + path + ": " + why +
                        "; entries are dropped until it can be written.");
  failing_ = true;
}

void TransferLog::CheckSize(std::int64_t limitMebibytes) {
  written_ = false;
  const auto path = Path();
  if (!path) return;
  struct stat st {};
  // Measured as it is (a link is nothing of ours to measure or empty).
  if (::lstat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (limitMebibytes > (st.st_size >> 20)) return;
  WriteDiagnosticLine("clearing log file...");
  // Emptied in place, so the open log keeps writing to the same file.
  std::string problem;
  if (!EmptyRegularFile(*path, &problem)) WriteDiagnosticLine("Cannot clear the transfer log: " + problem + ".");
}

void TransferLog::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  UnregisterOwnFile(openPath_);
}

}  // namespace vantorel
