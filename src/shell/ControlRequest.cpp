#include "shell/ControlRequest.h"

#include "units/text/LineText.h"
#include "units/text/ShortString.h"

namespace vantorel {

ControlRequest ParseControlRequest(const std::string& line) {
  using Kind = ControlRequest::Kind;
  ControlRequest request;
  const std::size_t space = line.find(' ');
  const std::string command = line.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
  const bool bare = space == std::string::npos;
  if ((command == "status" || command == "follow") && (bare || rest == "json")) {
    request.kind = command == "status" ? Kind::Status : Kind::Follow;
    request.json = !bare;
  } else if (command == "wait-idle" && (bare || rest == "uploads")) {
    request.kind = Kind::WaitIdle;
    request.uploads = !bare;
  } else if (bare && command == "open") {
    request.kind = Kind::Open;
  } else if (bare && command == "preferences") {
    request.kind = Kind::Preferences;
  } else if (bare && (command == "pause" || command == "resume")) {
    request.kind = command == "pause" ? Kind::Pause : Kind::Resume;
  } else if (bare && command == "quit") {
    request.kind = Kind::Quit;
  } else if (bare && command == "ping") {
    request.kind = Kind::Ping;
  } else if (command == "rescan") {
    if (!bare && rest.empty()) {
      request.error = "the folder to rescan is an empty path (give an absolute path)";
    } else if (!bare && (rest.front() != '/' || rest.find('\0') != std::string::npos)) {
      // Escaped, then cut: an escape takes up to four bytes for one.
      request.error = shortString(EscapedForLine(rest)) + " is not a folder (give an absolute path)";
    } else {
      request.kind = Kind::Rescan;
      request.folder = rest;
    }
  } else if (line.empty()) {
    request.error = "empty request";
  } else {
    // Echoed short and only as far as it is text: the request may be anything.
    request.error = "unknown request '" + EscapedForLine(TruncateUtf8(line, 64)) + "'";
  }
  return request;
}

}  // namespace vantorel
