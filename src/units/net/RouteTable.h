#pragma once
// Questions to the kernel's routing tables over rtnetlink.

#include <netinet/in.h>

#include <optional>
#include <string>

namespace vantorel {

// What a route offers: whether there is a usable one, and whether it reaches
// its destination without a gateway (on-link).
struct RouteAnswer {
  bool usable = false;
  bool onLink = false;
};

// The best default route (IPv4, else IPv6) of the main table over an
// interface that is up and has its link. Nothing (and `error` set) when the kernel cannot be asked.
std::optional<RouteAnswer> QueryDefaultRoute(std::string* error = nullptr);

// The route the kernel would take to `address`.
std::optional<RouteAnswer> QueryRouteTo(in_addr address, std::string* error = nullptr);

// A socket that becomes readable when links, addresses or routes change.
class RouteChangeSocket {
public:
  RouteChangeSocket();
  ~RouteChangeSocket();
  RouteChangeSocket(const RouteChangeSocket&) = delete;
  RouteChangeSocket& operator=(const RouteChangeSocket&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& Error() const { return error_; }
  // Reads every pending message (their content does not matter: the table is
  // asked afresh); also clears an overflow.
  void Drain() const;

private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace vantorel
