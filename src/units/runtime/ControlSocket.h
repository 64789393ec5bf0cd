#pragma once
// The running instance's control socket: a Unix stream socket in a folder
// of the user's own, through which scripts ask the instance for its state
// and commands. It is also the guard that keeps one instance per user: the
// socket's lock is held for the instance's life, so a socket left by a
// crashed run is known to be stale and is replaced.
//
// Requests and answers are lines. Everything happens on the main loop and
// nothing ever waits for a peer: reads take what is there, answers are
// buffered and written as the peer takes them, and a peer that takes
// nothing for too long is dropped. Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "units/runtime/MainLoop.h"

namespace vantorel {

class InstanceLock;

class ControlSocket {
public:
  using ConnectionId = std::uint64_t;
  // A request: one line without its end of line.
  using RequestHandler = std::function<void(ConnectionId, const std::string& line)>;

  static constexpr std::size_t kLongestRequest = 4096;
  static constexpr std::size_t kLargestBacklog = 1 << 20;  // unread answer bytes per peer
  static constexpr std::size_t kMostConnections = 256;

  // "$XDG_RUNTIME_DIR/vantorel/control" when the runtime folder exists,
  // else "run/control" in `supportFolder`.
  static std::string DefaultPath(const std::string& supportFolder);

  enum class Outcome { Listening, AlreadyRunning, Failed };
  // Listens at `path` (taken before anything else at launch; peers wait
  // in the queue until Serve). The folder is made (0700) when missing and
  // must belong to this user and be closed to others; the socket is 0600.
  // AlreadyRunning: another instance holds it. Failed: `error` says why
  // in one line.
  static std::unique_ptr<ControlSocket> Listen(const std::string& path, Outcome* outcome, std::string* error);
  // Starts answering on `loop`; StopServing ends every connection and
  // leaves new peers waiting (the socket and its guard stay). Call it
  // before the loop goes.
  void Serve(MainLoop& loop, RequestHandler handler);
  void StopServing();
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  const std::string& Path() const { return path_; }
  // Queues `line` (and an end of line) for the peer; false when it is gone.
  bool Send(ConnectionId id, std::string_view line);
  // Ends the connection once what is queued has been written.
  void Finish(ConnectionId id);
  // Called when a connection has ended, however it ended.
  void SetClosedHandler(std::function<void(ConnectionId)> closed) { closed_ = std::move(closed); }
  std::size_t ConnectionCount() const { return connections_.size(); }

private:
  struct Connection;
  explicit ControlSocket(std::string path);
  void Accept();
  void Read(ConnectionId id);
  void Flush(ConnectionId id);
  void Drop(ConnectionId id);
  void ScheduleFlush();
  // Out of descriptors: the spare one makes room to accept a waiting peer
  // and turn it away. False when it could not.
  bool RefuseWithSpareDescriptor();
  // Stops watching the listener for kListenPause seconds.
  void PauseListening();

  static constexpr double kListenPause = 0.5;

  std::string path_;
  MainLoop* loop_ = nullptr;
  RequestHandler handler_;
  std::function<void(ConnectionId)> closed_;
  std::unique_ptr<InstanceLock> lock_;
  int listener_ = -1;
  MainLoop::WatchId listenWatch_ = 0;
  std::uint64_t inode_ = 0;
  ConnectionId nextId_ = 1;
  std::map<ConnectionId, std::unique_ptr<Connection>> connections_;
  MainLoop::TimerId flushTimer_ = 0;
  bool flushScheduled_ = false;
  int spare_ = -1;
  MainLoop::TimerId resumeTimer_ = 0;
  bool listenPaused_ = false;
};

// Connects to the control socket at `path` (blocking; for clients). The
// descriptor, or −1 with `error` saying why (no instance runs: ENOENT or
// ECONNREFUSED in `errno`).
int ConnectControlSocket(const std::string& path, std::string* error);

}  // namespace vantorel
