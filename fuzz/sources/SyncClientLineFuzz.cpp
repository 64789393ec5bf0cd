// A line of any bytes from a sync client's socket: it is a message or
// nothing, and a message's path is one the program can trust: absolute,
// one line, no NUL, nothing that steps out of where it says it is.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sources/nextcloud/SyncClientProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const auto message = ParseClientLine(line);
  if (!message) return 0;
  const std::string& path = message->path;
  if (message->kind == ClientMessage::Kind::Version || message->kind == ClientMessage::Kind::Error) {
    if (!path.empty() || message->text.size() > 200) __builtin_trap();
    return 0;
  }
  if (path.empty() || path.front() != '/') __builtin_trap();
  if (path.find('\0') != std::string::npos || path.find('\n') != std::string::npos) __builtin_trap();
  if (path.find("/../") != std::string::npos || path.ends_with("/..") || path.find("/./") != std::string::npos)
    __builtin_trap();
  if (path.size() > 1 && path.back() == '/') __builtin_trap();
  return 0;
}
