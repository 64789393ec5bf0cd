#pragma once
// One request line of the control socket, read: what it asks for, or why
// it cannot be read. Any bytes may arrive; nothing here trusts them.

#include <string>

namespace vantorel {

struct ControlRequest {
  enum class Kind { Status, Follow, WaitIdle, Open, Preferences, Rescan, Pause, Resume, Quit, Ping, Invalid };
  Kind kind = Kind::Invalid;
  bool json = false;   // Status and Follow
  bool uploads = false;  // WaitIdle: for uploads only
  std::string folder;  // Rescan: empty for the watched folder
  std::string error;   // Invalid: the answer's text, without "error "
};

ControlRequest ParseControlRequest(const std::string& line);

}  // namespace vantorel
