#pragma once
// Whose program is at the other end of a connection made to this machine:
// before a secret (an API key) goes over it, the caller can make sure the
// listener belongs to the user. Any local user may listen on a loopback
// port or a socket path left free by the program that should be there.
//
// Threads: free functions, no state.

#include <sys/types.h>

#include <optional>
#include <string>

namespace vantorel {

// The user owning the listening end that the connected socket `fd`
// reached: for a Unix socket, the peer's credentials; for TCP to an address
// of this machine, the owner of the socket listening on that address and
// port (asked of the kernel's socket diagnostics, else read from
// /proc/net/tcp and tcp6; a wildcard listener counts), another user's
// before the user's own where there are several. Nothing, with
// `problem` set, when it cannot be told.
std::optional<uid_t> ListenerOwner(int fd, std::string* problem);

}  // namespace vantorel
