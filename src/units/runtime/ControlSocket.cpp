#include "units/runtime/ControlSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "units/fs/PrivateFolder.h"
#include "units/runtime/InstanceLock.h"

namespace vantorel {

namespace {
bool FillAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

std::string TooLong(const std::string& path) {
  return "the control socket's path is too long for a Unix socket (" + std::to_string(path.size()) +
         " bytes, at most " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) + "): " + path;
}

}  // namespace

struct ControlSocket::Connection {
  int fd = -1;
  MainLoop::WatchId watch = 0;
  std::string in;
  std::string out;
  bool finishing = false;
};

std::string ControlSocket::DefaultPath(const std::string& supportFolder) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
    return std::string(runtime) + "/vantorel/control";
  return supportFolder + "/run/control";
}

ControlSocket::ControlSocket(std::string path) : path_(std::move(path)) {}

std::unique_ptr<ControlSocket> ControlSocket::Listen(const std::string& path, Outcome* outcome, std::string* error) {
  *outcome = Outcome::Failed;
  sockaddr_un address{};
  if (!FillAddress(path, &address)) {
    *error = TooLong(path);
    return nullptr;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
  if (!PreparePrivateFolder(folder, "the control socket", error)) return nullptr;

  // Held for the instance's life: whoever holds it owns the socket, so a
  // socket found while we hold it was left by a run that has ended.
  pid_t holder = 0;
  std::string problem;
  auto lock = InstanceLock::Acquire(path + ".lock", &holder, &problem);
  if (!lock) {
    if (problem.empty()) {
      *outcome = Outcome::AlreadyRunning;
      *error = holder > 0 ? "Vantorel is already running (process " + std::to_string(holder) + ")"
                          : std::string("Vantorel is already running");
    } else {
      *error = problem;
    }
    return nullptr;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " is in the way (it is not a socket); refusing to replace it";
      return nullptr;
    }
    ::unlink(path.c_str());  // stale: its instance has ended
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make a socket: ") + std::strerror(errno);
    return nullptr;
  }
  // Made private at once: no moment in which another user could connect.
  const mode_t saved = ::umask(077);
  const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int bindError = errno;
  ::umask(saved);
  if (bound == 0) ::chmod(path.c_str(), 0600);
  if (bound != 0 || ::listen(fd, 128) != 0) {
    *error = "cannot listen at " + path + ": " + std::strerror(bound != 0 ? bindError : errno);
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<ControlSocket> server(new ControlSocket(path));
  server->lock_ = std::move(lock);
  server->listener_ = fd;
  // Kept for the moment all others are taken: closed, it lets one waiting
  // peer in to be told "busy".
  server->spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (::lstat(path.c_str(), &st) == 0) server->inode_ = st.st_ino;
  *outcome = Outcome::Listening;
  return server;
}

void ControlSocket::Serve(MainLoop& loop, RequestHandler handler) {
  loop_ = &loop;
  handler_ = std::move(handler);
  listenWatch_ = loop.WatchReadable(listener_, [this] { Accept(); });
}

void ControlSocket::StopServing() {
  if (loop_ == nullptr) return;
  closed_ = nullptr;
  if (flushScheduled_) loop_->CancelTimer(flushTimer_);
  flushScheduled_ = false;
  if (listenPaused_) loop_->CancelTimer(resumeTimer_);
  listenPaused_ = false;
  while (!connections_.empty()) Drop(connections_.begin()->first);
  if (listenWatch_ != 0) loop_->Unwatch(listenWatch_);
  listenWatch_ = 0;
  loop_ = nullptr;
  handler_ = nullptr;
}

ControlSocket::~ControlSocket() {
  StopServing();
  ::close(listener_);
  if (spare_ >= 0) ::close(spare_);
  // Only our own socket: a later instance may have replaced it.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_) ::unlink(path_.c_str());
}

void ControlSocket::Accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The peer stays queued and the listener readable: returning would
        // spin the loop at full speed for as long as it waits.
        if (RefuseWithSpareDescriptor()) continue;
        PauseListening();
      }
      return;  // EAGAIN: all taken
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool sameUser =
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
    const char* refusal = !sameUser ? "error refused: the request comes from another user\n"
                          : connections_.size() >= kMostConnections ? "error busy: too many connections\n"
                                                                    : nullptr;
    if (refusal != nullptr) {
      [[maybe_unused]] const ssize_t ignored = ::send(fd, refusal, std::strlen(refusal), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      continue;
    }
    const ConnectionId id = nextId_++;
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->watch = loop_->WatchReadable(fd, [this, id] { Read(id); });
    connections_[id] = std::move(connection);
  }
}

void ControlSocket::Read(ConnectionId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  char buffer[4096];
  const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    Drop(id);  // the peer has gone
    return;
  }
  if (n < 0) return;
  if (c.finishing) return;  // what comes after a refused request is ignored
  c.in.append(buffer, static_cast<std::size_t>(n));
  std::size_t start = 0;
  for (std::size_t end; (end = c.in.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = c.in.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLongestRequest) {
      start = c.in.size();
      Send(id, "error request too long (at most " + std::to_string(kLongestRequest) + " bytes)");
      Finish(id);
      break;
    }
    handler_(id, line);
    // The handler may have ended the connection.
    if (connections_.find(id) == connections_.end()) return;
  }
  auto again = connections_.find(id);
  if (again == connections_.end()) return;
  Connection& still = *again->second;
  still.in.erase(0, std::min(start, still.in.size()));
  if (still.in.size() > kLongestRequest && !still.finishing) {
    still.in.clear();
    Send(id, "error request too long (at most " + std::to_string(kLongestRequest) + " bytes)");
    Finish(id);
  }
}

bool ControlSocket::RefuseWithSpareDescriptor() {
  if (spare_ < 0) return false;
  ::close(spare_);
  spare_ = -1;
  const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    static const char kBusy[] = "error busy: this Vantorel has no descriptors left\n";
    [[maybe_unused]] const ssize_t ignored = ::send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
  }
  spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  return fd >= 0 && spare_ >= 0;
}

void ControlSocket::PauseListening() {
  if (loop_ == nullptr || listenPaused_) return;
  listenPaused_ = true;
  loop_->Unwatch(listenWatch_);
  listenWatch_ = 0;
  resumeTimer_ = loop_->AddTimer(kListenPause, [this] {
    listenPaused_ = false;
    if (spare_ < 0) spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    listenWatch_ = loop_->WatchReadable(listener_, [this] { Accept(); });
  });
}

bool ControlSocket::Send(ConnectionId id, std::string_view line) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return false;
  Connection& c = *it->second;
  if (c.out.size() + line.size() + 1 > kLargestBacklog) {
    Drop(id);  // a peer that does not read its answers is not waited for
    return false;
  }
  c.out.append(line);
  c.out.push_back('\n');
  Flush(id);
  return connections_.count(id) != 0;
}

void ControlSocket::Finish(ConnectionId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  it->second->finishing = true;
  Flush(id);
}

void ControlSocket::Flush(ConnectionId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      ScheduleFlush();  // the peer's buffer is full: later, never waiting here
      return;
    }
    Drop(id);
    return;
  }
  if (c.finishing) Drop(id);
}

void ControlSocket::ScheduleFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  flushTimer_ = loop_->AddTimer(0.05, [this] {
    flushScheduled_ = false;
    std::vector<ConnectionId> pending;
    for (const auto& [id, c] : connections_)
      if (!c->out.empty()) pending.push_back(id);
    for (const ConnectionId id : pending) Flush(id);
  });
}

void ControlSocket::Drop(ConnectionId id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  std::unique_ptr<Connection> c = std::move(it->second);
  connections_.erase(it);
  loop_->Unwatch(c->watch);
  ::close(c->fd);
  if (closed_) closed_(id);
}

int ConnectControlSocket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (!FillAddress(path, &address)) {
    *error = TooLong(path);
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make a socket: ") + std::strerror(errno);
    return -1;
  }
  while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    const int saved = errno;
    *error = saved == ENOENT || saved == ECONNREFUSED ? std::string("no Vantorel is running")
                                                      : "cannot reach " + path + ": " + std::strerror(saved);
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace vantorel
