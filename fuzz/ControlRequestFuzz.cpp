// A control-socket request line of any bytes: it is read into a request or
// an error, and an error's text stays a short line of UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>

#include "shell/ControlRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  const std::string line(reinterpret_cast<const char*>(data), size);
  const ControlRequest request = ParseControlRequest(line);
  if (request.kind == ControlRequest::Kind::Invalid) {
    // Answered on one line, never longer than a short string and its words.
    if (request.error.empty() || request.error.size() > 400) __builtin_trap();
    if (request.error.find('\n') != std::string::npos && line.find('\n') == std::string::npos) __builtin_trap();
  }
  if (request.kind == ControlRequest::Kind::Rescan && !request.folder.empty() && request.folder.front() != '/')
    __builtin_trap();
  return 0;
}
