#include "sources/nextcloud/SyncClientProtocol.h"

#include "units/text/Utf8.h"

namespace vantorel {

namespace {

// Well-formed UTF-8 on one line, without NUL.
bool IsCleanText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == 0 || byte == '\n') return false;
    const std::size_t length = byte < 0x80 ? 1 : Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsValidPath(std::string_view path) {
  if (path.empty() || path.front() != '/' || path.size() > 4096 || !IsCleanText(path)) return false;
  // No component may step out of where the path says it is.
  for (std::size_t start = 1; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::optional<ClientItemState> StateNamed(std::string_view name) {
  if (name.ends_with("+SWM")) name.remove_suffix(4);
  if (name == "NOP") return ClientItemState::None;
  if (name == "SYNC") return ClientItemState::Syncing;
  if (name == "OK") return ClientItemState::Ok;
  if (name == "IGNORE") return ClientItemState::Ignored;
  if (name == "ERROR") return ClientItemState::Error;
  if (name == "WARNING") return ClientItemState::Warning;
  return std::nullopt;
}

std::optional<ClientMessage> WithPath(ClientMessage message, std::string_view path) {
  if (!IsValidPath(path)) return std::nullopt;
  message.path = WithoutTrailingSlash(path);
  return message;
}

}  // namespace

std::string WithoutTrailingSlash(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::optional<ClientMessage> ParseClientLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > kLongestClientLine) return std::nullopt;
  const std::size_t colon = line.find(':');
  const std::string_view verb = line.substr(0, colon);
  const std::string_view argument = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
  ClientMessage message;
  if (verb == "REGISTER_PATH") {
    message.kind = ClientMessage::Kind::RegisterPath;
    return WithPath(std::move(message), argument);
  }
  if (verb == "UNREGISTER_PATH") {
    message.kind = ClientMessage::Kind::UnregisterPath;
    return WithPath(std::move(message), argument);
  }
  if (verb == "UPDATE_VIEW") {
    message.kind = ClientMessage::Kind::UpdateView;
    return WithPath(std::move(message), argument);
  }
  if (verb == "STATUS") {
    // STATUS:<STATE>:<path>; the path may hold colons of its own.
    const std::size_t second = argument.find(':');
    if (second == std::string_view::npos) return std::nullopt;
    const auto state = StateNamed(argument.substr(0, second));
    if (!state) return std::nullopt;
    message.kind = ClientMessage::Kind::Status;
    message.state = *state;
    return WithPath(std::move(message), argument.substr(second + 1));
  }
  if (verb == "VERSION" || verb == "ERROR") {
    message.kind = verb == "VERSION" ? ClientMessage::Kind::Version : ClientMessage::Kind::Error;
    if (!IsCleanText(argument)) return std::nullopt;
    message.text = std::string(argument.substr(0, 200));
    return message;
  }
  return std::nullopt;
}

std::string FileStatusRequest(const std::string& path) { return "RETRIEVE_FILE_STATUS:" + path + "\n"; }
std::string FolderStatusRequest(const std::string& path) { return "RETRIEVE_FOLDER_STATUS:" + path + "\n"; }

const char* ClientItemStateName(ClientItemState state) {
  switch (state) {
    case ClientItemState::None: return "NOP";
    case ClientItemState::Syncing: return "SYNC";
    case ClientItemState::Ok: return "OK";
    case ClientItemState::Ignored: return "IGNORE";
    case ClientItemState::Error: return "ERROR";
    case ClientItemState::Warning: return "WARNING";
  }
  return "NOP";
}

}  // namespace vantorel
