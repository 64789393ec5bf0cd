#pragma once
// A stand-in for a desktop sync client's file-manager socket: serves the
// line protocol from a table the test changes. It registers its roots on
// every connection, answers status questions (NOP for what it does not
// know), remembers which folders each connection asked about and pushes
// state changes only for those, announces sync runs with UPDATE_VIEW, and
// can drop every connection or stop listening as a client that quits.
// Runs on a thread of its own; every member is safe from the test's thread.

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vantorel::test {

class FakeSyncClient {
public:
  FakeSyncClient(std::string socketPath, std::vector<std::string> roots)
      : path_(std::move(socketPath)), roots_(std::move(roots)) {
    Listen();
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeSyncClient() {
    stop_ = true;
    thread_.join();
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) ::close(c.fd);
    if (listener_ >= 0) ::close(listener_);
    ::unlink(path_.c_str());
  }

  // An item's state ("OK", "SYNC", "NOP", "ERROR", "IGNORE"); pushed to the
  // connections that asked about its folder.
  void Set(const std::string& path, const std::string& state) {
    std::lock_guard lock(mutex_);
    states_[path] = state;
    const std::string folder = path.substr(0, path.rfind('/'));
    for (auto& c : connections_)
      if (c.subscribed.count(folder) != 0) c.out += "STATUS:" + state + ":" + path + "\n";
  }
  // A sync run's start or end under `root`.
  void UpdateView(const std::string& root) { SendToAll("UPDATE_VIEW:" + root + "\n"); }
  // Anything at all, to every connection.
  void SendToAll(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) c.out += bytes;
  }
  // The client quits: every connection closes and nobody listens.
  void Quit() {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_) ::close(c.fd);
    connections_.clear();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
    ::unlink(path_.c_str());
  }
  // ... and comes back.
  void Restart() {
    std::lock_guard lock(mutex_);
    Listen();
  }
  int Connections() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(connections_.size());
  }
  // Questions asked so far, over all connections.
  int Questions() const { return questions_.load(); }

private:
  struct Connection {
    int fd;
    std::string in, out;
    std::set<std::string> subscribed;
  };

  void Listen() {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    ::unlink(path_.c_str());
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
  }

  void Answer(Connection& c, const std::string& line) {
    const std::size_t colon = line.find(':');
    const std::string verb = line.substr(0, colon);
    const std::string path = colon == std::string::npos ? "" : line.substr(colon + 1);
    if (verb == "VERSION") {
      c.out += "VERSION:3.7.3-fake:1.1\n";
    } else if (verb == "RETRIEVE_FILE_STATUS" || verb == "RETRIEVE_FOLDER_STATUS") {
      ++questions_;
      c.subscribed.insert(path.substr(0, path.rfind('/')));
      const auto it = states_.find(path);
      c.out += "STATUS:" + (it == states_.end() ? std::string("NOP") : it->second) + ":" + path + "\n";
    } else {
      c.out += "ERROR:unknown command\n";
    }
  }

  void Run() {
    while (!stop_) {
      std::vector<pollfd> fds;
      {
        std::lock_guard lock(mutex_);
        if (listener_ >= 0) {
          for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
            Connection c{fd, "", "", {}};
            for (const auto& root : roots_) c.out += "REGISTER_PATH:" + root + "\n";
            connections_.push_back(std::move(c));
          }
        }
        for (auto it = connections_.begin(); it != connections_.end();) {
          char buffer[65536];
          const ssize_t n = ::read(it->fd, buffer, sizeof buffer);
          if (n == 0 || (n < 0 && errno != EAGAIN)) {
            ::close(it->fd);
            it = connections_.erase(it);
            continue;
          }
          if (n > 0) it->in.append(buffer, static_cast<std::size_t>(n));
          for (std::size_t end; (end = it->in.find('\n')) != std::string::npos;) {
            const std::string line = it->in.substr(0, end);
            it->in.erase(0, end + 1);
            Answer(*it, line);
          }
          if (!it->out.empty()) {
            const ssize_t sent = ::send(it->fd, it->out.data(), it->out.size(), MSG_NOSIGNAL);
            if (sent > 0) it->out.erase(0, static_cast<std::size_t>(sent));
          }
          ++it;
        }
      }
      ::usleep(2000);
    }
  }

  const std::string path_;
  const std::vector<std::string> roots_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> questions_{0};
  std::mutex mutex_;  // guards the rest
  int listener_ = -1;
  std::vector<Connection> connections_;
  std::map<std::string, std::string> states_;
};

}  // namespace vantorel::test
