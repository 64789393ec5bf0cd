#pragma once
// Moves the whole test process into a private network namespace with a veth
// pair (veth-a 192.0.2.2/24, up) and no routes but its own subnet's. Call
// from main() before any thread exists. Root only.

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantorel::test {

// Runs the ip tool quietly; true when it succeeded.
inline bool Ip(const std::string& arguments) {
  return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// Empty when the namespace is ready, otherwise why it is not.
inline std::string EnterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0)
    return std::string("cannot make a private network namespace (") + std::strerror(errno) +
           "); run as root to test against real routing tables";
  const char* path = std::getenv("PATH");
  ::setenv("PATH", (std::string("/usr/sbin:/sbin:") + (path ? path : "/usr/bin")).c_str(), 1);
  if (!Ip("link set lo up") || !Ip("link add veth-a type veth peer name veth-b") ||
      !Ip("addr add 192.0.2.2/24 dev veth-a") || !Ip("link set veth-a up") || !Ip("link set veth-b up"))
    return "cannot set up a veth pair with the ip tool (is iproute2 installed?)";
  return {};
}

}  // namespace vantorel::test
