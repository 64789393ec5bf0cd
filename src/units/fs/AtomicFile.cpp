#include "units/fs/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

bool Refuse(std::string* error, int* errorNumber, int code, const std::string& why) {
  if (error) *error = why;
  if (errorNumber) *errorNumber = code;
  errno = code;
  return false;
}

// Why an existing item cannot be written as a regular file: a link would be
// written through, and a FIFO or device is nothing of ours.
const char* WhatIsInTheWay(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

std::string InTheWay(const std::string& path, mode_t mode) {
  return path + " is " + WhatIsInTheWay(mode) + "; it is left as it is";
}

}  // namespace

bool FolderIsSafeToWrite(const std::string& folder, std::string* problem) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return Fail(problem, "cannot look at " + folder);
  if (!S_ISDIR(st.st_mode)) return Refuse(problem, nullptr, ENOTDIR, folder + " is not a folder");
  if (st.st_uid != ::geteuid())
    return Refuse(problem, nullptr, EPERM,
                  folder + " belongs to another user (uid " + std::to_string(st.st_uid) + "); refusing to write there");
  const bool othersWrite = (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != ::getegid());
  if (othersWrite) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return Refuse(problem, nullptr, EPERM,
                  folder + " can be written by other users (mode " + mode + "); refusing to write there");
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string folder = ParentOf(path);
  if (!FolderIsSafeToWrite(folder, error)) return false;
  struct stat existing {};
  const bool exists = ::lstat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return Refuse(error, nullptr, EEXIST, InTheWay(path, existing.st_mode));

  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + name + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + folder);
  if (exists) ::fchmod(fd, existing.st_mode & 07777);

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

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error, int* errorNumber,
                                         std::size_t limit) {
  const auto fail = [&](int code, const std::string& why) -> std::optional<std::string> {
    Refuse(error, errorNumber, code, why);
    return std::nullopt;
  };
  // Without blocking: opening a FIFO for reading would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail(errno, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    return fail(saved, std::strerror(saved));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(EINVAL, std::string("it is ") + WhatIsInTheWay(st.st_mode));
  }
  const std::string tooLarge = "it is larger than " + std::to_string(limit >> 20) + " MiB";
  if (static_cast<std::size_t>(st.st_size) > limit) {
    ::close(fd);
    return fail(EFBIG, tooLarge);
  }
  std::string content;
  content.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      return fail(saved, std::strerror(saved));
    }
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > limit) {  // it grew while being read
      ::close(fd);
      return fail(EFBIG, tooLarge);
    }
  }
  ::close(fd);
  if (errorNumber) *errorNumber = 0;
  return content;
}

int OpenFileForAppend(const std::string& path, std::string* error) {
  if (!FolderIsSafeToWrite(ParentOf(path), error)) return -1;
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                        0644);
  if (fd < 0) {
    const int saved = errno;
    struct stat st {};
    // O_NOFOLLOW fails with ELOOP on a link; a FIFO without a reader with ENXIO.
    if ((saved == ELOOP || saved == ENXIO) && ::lstat(path.c_str(), &st) == 0) {
      Refuse(error, nullptr, saved, InTheWay(path, st.st_mode));
    } else {
      errno = saved;
      Fail(error, "cannot open " + path);
    }
    errno = saved;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const mode_t mode = st.st_mode;
    ::close(fd);
    Refuse(error, nullptr, EINVAL, InTheWay(path, mode));
    return -1;
  }
  // Appends are written whole or not at all; a full pipe never stalls us,
  // and a regular file never answers EAGAIN, so blocking mode is safe now.
  ::fcntl(fd, F_SETFL, O_APPEND);
  return fd;
}

bool EmptyRegularFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int saved = errno;
    struct stat st {};
    if ((saved == ELOOP || saved == ENXIO) && ::lstat(path.c_str(), &st) == 0)
      return Refuse(error, nullptr, saved, InTheWay(path, st.st_mode));
    errno = saved;
    return Fail(error, "cannot open " + path);
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) {
    Refuse(error, nullptr, EINVAL, InTheWay(path, st.st_mode));
  } else if (::ftruncate(fd, 0) != 0) {
    ok = Fail(error, "cannot empty " + path);
  }
  ::close(fd);
  return ok;
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
