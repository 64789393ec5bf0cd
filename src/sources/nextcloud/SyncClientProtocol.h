#pragma once
// The line protocol of the desktop sync clients' local socket (the one file
// managers use for their overlays): what a client's line says, and the
// requests sent to it. Lines are UTF-8 and end in "\n"; a message is `VERB`
// or `VERB:ARGUMENT`; paths are absolute.
//
// Threads: free functions, no state.

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

// An item's state as the client reports it.
enum class ClientItemState {
  None,     // "NOP": no state, not in a folder, or not looked at yet
  Syncing,  // "SYNC": queued or transferring, either way
  Ok,       // "OK": the same here and on the server
  Ignored,  // "IGNORE": left out of syncing
  Error,    // "ERROR"
  Warning,  // "WARNING"
};

struct ClientMessage {
  enum class Kind { RegisterPath, UnregisterPath, Status, UpdateView, Version, Error };
  Kind kind = Kind::Error;
  ClientItemState state = ClientItemState::None;  // with Status
  std::string path;                               // with all but Version and Error
  std::string text;                               // Version: the version; Error: the reason
};

// The longest line read; a longer one is dropped whole.
inline constexpr std::size_t kLongestClientLine = 16 * 1024;

// What one line (without its "\n") says; nothing when it is not a message
// this program understands: an unknown verb, a state not listed, a path
// that is not absolute, not UTF-8, holds a NUL or a "." or ".." component.
// "+SWM" (shared with me) after a state is dropped.
std::optional<ClientMessage> ParseClientLine(std::string_view line);

// The trailing slashes of a path dropped (the root "/" kept).
std::string WithoutTrailingSlash(std::string_view path);

// Requests.
std::string FileStatusRequest(const std::string& path);    // RETRIEVE_FILE_STATUS
std::string FolderStatusRequest(const std::string& path);  // RETRIEVE_FOLDER_STATUS
inline constexpr std::string_view kVersionRequest = "VERSION:\n";

const char* ClientItemStateName(ClientItemState state);

}  // namespace vantorel
