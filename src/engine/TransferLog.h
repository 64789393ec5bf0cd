#pragma once
// The plain-text log of finished transfers: one line per entry, appended to
// a regular file of the user's own (never through a link, never waiting on a
// FIFO), emptied in place when it reaches its size limit, and a failure told
// once until a line goes through again.
//
// Threads: the poll thread writes and checks the size (and the tracker's
// teardown, once that thread has ended); SetPath and Path may be called from
// any thread (`pathLock_` guards the path).

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vantorel {

class TransferLog {
public:
  TransferLog() = default;
  ~TransferLog() { Close(); }
  TransferLog(const TransferLog&) = delete;
  TransferLog& operator=(const TransferLog&) = delete;

  // Where the log is; a log already opened stays the one written to.
  void SetPath(std::string path);
  std::optional<std::string> Path() const;
  // Appends `text` as one line (cut at 254 bytes, at a whole character). A
  // line a full disk cut short is taken back, so only whole lines remain.
  void Append(const std::string& text);
  // Whether Append was called since the last size check.
  bool WrittenSinceCheck() const { return written_; }
  // Empties the log in place when it has reached `limitMebibytes`.
  void CheckSize(std::int64_t limitMebibytes);
  void Close();

private:
  void Failed(const std::string& path, const std::string& why);

  mutable std::mutex pathLock_;
  std::optional<std::string> path_;  // guarded by pathLock_
  // The writer's alone.
  int fd_ = -1;
  std::string openPath_;
  bool failing_ = false;
  bool written_ = false;
};

}  // namespace vantorel
