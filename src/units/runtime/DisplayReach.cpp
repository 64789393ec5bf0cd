#include "units/runtime/DisplayReach.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantorel {

namespace {
bool CanConnect(const std::string& path, bool abstract) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL
  if (path.size() + offset >= sizeof address.sun_path) {
    ::close(fd);
    return false;
  }
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

bool CanReachDisplay() {
  if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland != nullptr && *wayland != '\0') {
    std::string path = wayland;
    if (path.front() != '/') {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      path = std::string(runtime ? runtime : "") + "/" + path;
    }
    if (CanConnect(path, false)) return true;
  }
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  const std::string text = display;
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = text.substr(0, colon);
  if (!host.empty() && host != "unix" && host.front() != '/') return true;  // remote: let Qt try it
  const std::string number = text.substr(colon + 1, text.find('.', colon) - colon - 1);
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return CanConnect(socket, false) || CanConnect(socket, true);
}

}  // namespace vantorel
