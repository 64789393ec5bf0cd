#include "cloudsim/Journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantorel {

bool AppendJournalLine(const std::string& journal, const char* what, const std::string& path, std::string* error) {
  if (journal.empty()) return true;
  const std::string line = std::string(what) + "\t" + path + "\n";
  const int fd = ::open(journal.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "cannot open the journal " + journal + ": " + std::strerror(errno);
    return false;
  }
  // O_APPEND puts the whole line at the end in one go, whoever else writes.
  ssize_t written;
  do written = ::write(fd, line.data(), line.size());
  while (written < 0 && errno == EINTR);
  const int saved = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(line.size())) {
    if (error) *error = "cannot write the journal " + journal + ": " + (written < 0 ? std::strerror(saved) : "short write");
    return false;
  }
  return true;
}

}  // namespace vantorel
