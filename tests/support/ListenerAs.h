#pragma once
// A listener run by a child process as another user (the stranger who took
// a port or a socket path while the real program was not running): TCP on
// 127.0.0.1, or a Unix socket at `socketPath`. It accepts connections,
// answers nothing, and hands every byte it receives back to the test.

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/LoopbackListener.h"

namespace vantorel::test {

class ListenerAs {
public:
  explicit ListenerAs(uid_t uid, const std::string& socketPath = {}) {
    int ready[2], bytes[2];
    if (::pipe(ready) != 0 || ::pipe(bytes) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      ::close(ready[0]);
      ::close(bytes[0]);
      if (::setresuid(uid, uid, uid) != 0) ::_exit(1);
      int port = 0;
      int fd = -1;
      if (socketPath.empty()) {
        fd = ListenOnLoopback(16, &port);
      } else {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        port = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 16) == 0;
      }
      [[maybe_unused]] auto told = ::write(ready[1], &port, sizeof port);
      for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
        if (client < 0) ::_exit(0);
        char buffer[4096];
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n > 0) [[maybe_unused]] auto passed = ::write(bytes[1], buffer, static_cast<std::size_t>(n));
        ::close(client);
      }
    }
    ::close(ready[1]);
    ::close(bytes[1]);
    if (::read(ready[0], &port_, sizeof port_) != static_cast<ssize_t>(sizeof port_)) port_ = 0;
    ::close(ready[0]);
    bytes_ = bytes[0];
    ::fcntl(bytes_, F_SETFL, O_NONBLOCK);
  }
  ~ListenerAs() {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    if (bytes_ >= 0) ::close(bytes_);
  }
  int Port() const { return port_; }
  // Everything received so far.
  std::string Received() {
    char buffer[4096];
    for (ssize_t n; (n = ::read(bytes_, buffer, sizeof buffer)) > 0;) received_.append(buffer, static_cast<std::size_t>(n));
    return received_;
  }

private:
  pid_t child_ = -1;
  int port_ = 0;
  int bytes_ = -1;
  std::string received_;
};

}  // namespace vantorel::test
