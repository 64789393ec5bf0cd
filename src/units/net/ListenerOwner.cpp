#include "units/net/ListenerOwner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vantorel {

namespace {

constexpr const char* kListening = "0A";  // TCP_LISTEN, as the kernel prints it

// The listeners on `port` in one of the kernel's tables whose address is
// `address` (its 32-bit words as the kernel prints them) or all zeros.
void FindListeners(const char* table, std::size_t words, const std::array<std::uint32_t, 4>& address,
                   unsigned port, std::optional<uid_t>& found) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    uid_t uid = 0;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
    if (state != kListening) continue;
    const auto colon = local.find(':');
    if (colon != words * 8) continue;
    if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port) continue;
    bool same = true;
    bool wildcard = true;
    for (std::size_t i = 0; i < words; ++i) {
      const auto word = static_cast<std::uint32_t>(std::strtoul(local.substr(i * 8, 8).c_str(), nullptr, 16));
      same = same && word == address[i];
      wildcard = wildcard && word == 0;
    }
    if (!same && !wildcard) continue;
    // Another user's listener wins over the user's own: it may be the one
    // that answers.
    if (!found || *found == ::geteuid()) found = uid;
  }
}

}  // namespace

std::optional<uid_t> ListenerOwner(int fd, std::string* problem) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    *problem = std::string("not connected: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (peer.ss_family == AF_UNIX) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
      *problem = std::string("cannot read the peer's credentials: ") + std::strerror(errno);
      return std::nullopt;
    }
    return credentials.uid;
  }
  // The kernel prints each 32-bit word of an address as the number its
  // bytes make in this machine's order.
  std::array<std::uint32_t, 4> address{};
  std::optional<uid_t> owner;
  if (peer.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
    std::memcpy(address.data(), &in.sin_addr, 4);
    FindListeners("/proc/net/tcp", 1, address, ntohs(in.sin_port), owner);
    // A dual-stack listener on [::] takes IPv4 connections too.
    std::array<std::uint32_t, 4> mapped{0, 0, htonl(0xffff), address[0]};
    FindListeners("/proc/net/tcp6", 4, mapped, ntohs(in.sin_port), owner);
  } else if (peer.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
    std::memcpy(address.data(), &in6.sin6_addr, 16);
    FindListeners("/proc/net/tcp6", 4, address, ntohs(in6.sin6_port), owner);
  } else {
    *problem = "not a Unix or TCP socket";
    return std::nullopt;
  }
  if (!owner) *problem = "no listener on this machine answers it";
  return owner;
}

}  // namespace vantorel
