#include "cloudsim/Download.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cloudsim/AgentRules.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/SyncAttributes.h"

namespace vantorel {

namespace {

bool WriteFile(const std::string& path, std::size_t size, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> block(65536);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t n = ::write(fd, block.data(), std::min(left, block.size()));
    if (n <= 0) {
      *error = "cannot write " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    left -= static_cast<std::size_t>(n);
  }
  ::close(fd);
  return true;
}

}  // namespace

void PlayDownload(MainLoop& loop, const std::string& path, std::size_t size, double delay,
                  std::function<void(const std::string& error)> done) {
  const std::string placeholder = agent::PlaceholderOf(path);
  // A placeholder is a small description of the item, never empty.
  const std::string description = "<plist><dict><key>NSURLNameKey</key><string>" + lastPathComponent(path) +
                                  "</string><key>NSURLFileSizeKey</key><integer>" + std::to_string(size) +
                                  "</integer></dict></plist>\n";
  const int fd = ::open(placeholder.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, description.data(), description.size()) < 0) {
    if (fd >= 0) ::close(fd);
    done("cannot create " + placeholder + ": " + std::strerror(errno));
    return;
  }
  ::close(fd);
  ::setxattr(placeholder.c_str(), kUbiquityItemAttribute, "1", 1, 0);
  loop.AddTimer(delay, [path, placeholder, size, done = std::move(done)] {
    // Written beside it under a hidden name, marked, then put in place whole.
    const std::string temporary = stringByAppendingPathComponent(stringByDeletingLastPathComponent(path),
                                                                 "." + lastPathComponent(path) + ".arriving");
    std::string error;
    if (!WriteFile(temporary, size, &error)) {
      ::unlink(placeholder.c_str());
      done(error);
      return;
    }
    ::setxattr(temporary.c_str(), kUbiquityUploadedAttribute, "1", 1, 0);
    ::setxattr(temporary.c_str(), "user.ubiquity.downloaded", "1", 1, 0);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
      error = "cannot put " + path + " in place: " + std::strerror(errno);
      ::unlink(temporary.c_str());
    }
    ::unlink(placeholder.c_str());
    done(error);
  });
}

}  // namespace vantorel
