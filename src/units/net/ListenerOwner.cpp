#include "units/net/ListenerOwner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
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

using Address = std::array<std::uint32_t, 4>;  // as the kernel keeps it, in network order

// Notes a listener of `uid`: another user's wins over the user's own, as
// it may be the one that answers.
void Note(uid_t uid, std::optional<uid_t>& found) {
  if (!found || *found == ::geteuid()) found = uid;
}

bool Matches(const Address& listening, const Address& address, std::size_t words) {
  bool same = true;
  bool wildcard = true;
  for (std::size_t i = 0; i < words; ++i) {
    same = same && listening[i] == address[i];
    wildcard = wildcard && listening[i] == 0;
  }
  return same || wildcard;
}

// The kernel's socket diagnostics, asked for listening TCP sockets only:
// it walks the (short) table of listeners, never the connections. False
// when the kernel does not answer them.
bool AskTheKernel(int family, const Address& address, unsigned port, std::optional<uid_t>& found) {
  const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return false;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = static_cast<std::uint8_t>(family);
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = 1u << 10;  // TCP_LISTEN
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    ::close(fd);
    return false;
  }
  const std::size_t words = family == AF_INET ? 1 : 4;
  char buffer[32768];
  constexpr std::size_t kHeader = NLMSG_ALIGN(sizeof(nlmsghdr));
  for (bool done = false; !done;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    const auto size = static_cast<std::size_t>(n);
    // Each message copied out of the buffer: no assumption on its alignment.
    for (std::size_t at = 0; at + kHeader <= size;) {
      nlmsghdr header{};
      std::memcpy(&header, buffer + at, sizeof header);
      if (header.nlmsg_len < kHeader || at + header.nlmsg_len > size) break;
      if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) {
        done = true;
        break;
      }
      if (header.nlmsg_len >= kHeader + sizeof(inet_diag_msg)) {
        inet_diag_msg socket{};
        std::memcpy(&socket, buffer + at + kHeader, sizeof socket);
        Address listening{};
        std::memcpy(listening.data(), socket.id.idiag_src, sizeof listening);
        if (ntohs(socket.id.idiag_sport) == port && Matches(listening, address, words)) Note(socket.idiag_uid, found);
      }
      at += NLMSG_ALIGN(header.nlmsg_len);
    }
  }
  ::close(fd);
  return true;
}

// The same from the kernel's text tables (slower: they list every
// connection too), where its diagnostics are not there.
void ReadTheTable(const char* table, const Address& address, std::size_t words, unsigned port,
                  std::optional<uid_t>& found) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits;
    uid_t uid = 0;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid)) continue;
    if (state != "0A" || local.find(':') != words * 8) continue;  // 0A: listening
    if (std::strtoul(local.c_str() + words * 8 + 1, nullptr, 16) != port) continue;
    // Each word printed as the number its bytes make in this machine's order.
    Address listening{};
    for (std::size_t i = 0; i < words; ++i)
      listening[i] = static_cast<std::uint32_t>(std::strtoul(local.substr(i * 8, 8).c_str(), nullptr, 16));
    if (Matches(listening, address, words)) Note(uid, found);
  }
}

void FindListeners(int family, const Address& address, unsigned port, std::optional<uid_t>& found) {
  if (AskTheKernel(family, address, port, found)) return;
  if (family == AF_INET)
    ReadTheTable("/proc/net/tcp", address, 1, port, found);
  else
    ReadTheTable("/proc/net/tcp6", address, 4, port, found);
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
  Address address{};
  std::optional<uid_t> owner;
  if (peer.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
    std::memcpy(address.data(), &in.sin_addr, 4);
    FindListeners(AF_INET, address, ntohs(in.sin_port), owner);
    // A dual-stack listener on [::] takes IPv4 connections too.
    const Address mapped{0, 0, htonl(0xffff), address[0]};
    FindListeners(AF_INET6, mapped, ntohs(in.sin_port), owner);
  } else if (peer.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
    std::memcpy(address.data(), &in6.sin6_addr, 16);
    FindListeners(AF_INET6, address, ntohs(in6.sin6_port), owner);
  } else {
    *problem = "not a Unix or TCP socket";
    return std::nullopt;
  }
  if (!owner) *problem = "no listener on this machine answers it";
  return owner;
}

}  // namespace vantorel
