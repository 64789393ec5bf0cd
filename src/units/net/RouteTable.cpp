#include "units/net/RouteTable.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

// The netlink macros are C casts all the way down.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace vantorel {

namespace {

// From <linux/if.h>, which cannot be included beside <net/if.h>.
constexpr unsigned kInterfaceLowerUp = 1u << 16;

// One netlink conversation: a request, then every answer up to its end.
class NetlinkRequest {
public:
  NetlinkRequest() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ < 0) return;
    timeval timeout{2, 0};  // the kernel answers at once; never hang on it
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~NetlinkRequest() {
    if (fd_ >= 0) ::close(fd_);
  }
  NetlinkRequest(const NetlinkRequest&) = delete;
  NetlinkRequest& operator=(const NetlinkRequest&) = delete;

  // Sends `request` and hands each answer to `onMessage`. False with `error`
  // set when the conversation failed; a kernel error answer is `kernelError`.
  template <typename OnMessage>
  bool Exchange(nlmsghdr* request, OnMessage onMessage, std::string* error, int* kernelError = nullptr) {
    if (fd_ < 0) return Fail(error, "cannot open a netlink socket");
    request->nlmsg_seq = ++sequence_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
      return Fail(error, "cannot send to the kernel");
    const bool dump = request->nlmsg_flags & NLM_F_DUMP;
    std::vector<char> buffer(32768);
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Fail(error, "no answer from the kernel");
      }
      auto remaining = static_cast<int>(n);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, remaining);
           h = NLMSG_NEXT(h, remaining)) {
        if (h->nlmsg_seq != sequence_) continue;
        if (h->nlmsg_type == NLMSG_DONE) return true;
        if (h->nlmsg_type == NLMSG_ERROR) {
          const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
          if (e->error == 0) return true;  // an acknowledgement
          if (kernelError) *kernelError = -e->error;
          if (error) *error = std::strerror(-e->error);
          return false;
        }
        onMessage(h);
        if (!dump) return true;
      }
    }
  }

private:
  static bool Fail(std::string* error, const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    return false;
  }
  int fd_;
  std::uint32_t sequence_ = 0;
};

struct RouteRequest {
  nlmsghdr header;
  rtmsg route;
  char attributes[64];
};

RouteRequest MakeRouteRequest(unsigned short flags, unsigned char family = AF_INET) {
  RouteRequest request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = flags;
  request.route.rtm_family = family;
  return request;
}

void AddAttribute(nlmsghdr* h, unsigned short type, const void* data, unsigned short length) {
  auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(h) + NLMSG_ALIGN(h->nlmsg_len));
  attribute->rta_type = type;
  attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
  std::memcpy(RTA_DATA(attribute), data, length);
  h->nlmsg_len = NLMSG_ALIGN(h->nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Interface index → usable (administratively up, and its link is up).
std::optional<std::map<int, bool>> QueryLinks(NetlinkRequest& netlink, std::string* error) {
  struct {
    nlmsghdr header;
    ifinfomsg link;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.link.ifi_family = AF_UNSPEC;
  std::map<int, bool> links;
  const bool ok = netlink.Exchange(
      &request.header,
      [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK) return;
        const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        links[link->ifi_index] = (link->ifi_flags & IFF_UP) && (link->ifi_flags & kInterfaceLowerUp);
      },
      error);
  if (!ok) return std::nullopt;
  return links;
}

struct Route {
  bool usable = false;
  bool gateway = false;
  std::uint32_t priority = 0;
};

// Reads one route message: its interface(s), gateway(s) and metric.
Route ReadRoute(const nlmsghdr* h, const std::map<int, bool>& links) {
  Route route;
  const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(h));
  int length = static_cast<int>(RTM_PAYLOAD(h));
  int interface = 0;
  bool linkDown = message->rtm_flags & RTNH_F_LINKDOWN;
  for (auto* a = RTM_RTA(message); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
    switch (a->rta_type) {
      case RTA_OIF: interface = *static_cast<const int*>(RTA_DATA(a)); break;
      case RTA_GATEWAY: route.gateway = true; break;
      case RTA_PRIORITY: route.priority = *static_cast<const std::uint32_t*>(RTA_DATA(a)); break;
      case RTA_MULTIPATH: {
        // Usable when any next hop is; through a gateway when that one is.
        int left = static_cast<int>(RTA_PAYLOAD(a));
        for (auto* hop = static_cast<const rtnexthop*>(RTA_DATA(a)); left >= static_cast<int>(sizeof(rtnexthop)) &&
                                                                      hop->rtnh_len >= sizeof(rtnexthop) &&
                                                                      hop->rtnh_len <= left;
             left -= RTNH_ALIGN(hop->rtnh_len), hop = RTNH_NEXT(hop)) {
          auto found = links.find(hop->rtnh_ifindex);
          if (found == links.end() || !found->second || (hop->rtnh_flags & RTNH_F_LINKDOWN)) continue;
          bool hopGateway = false;
          int attributesLength = hop->rtnh_len - static_cast<int>(sizeof(rtnexthop));
          for (auto* ha = RTNH_DATA(hop); RTA_OK(ha, attributesLength); ha = RTA_NEXT(ha, attributesLength))
            if (ha->rta_type == RTA_GATEWAY) hopGateway = true;
          route.usable = true;
          route.gateway = hopGateway;
          break;
        }
        return route;
      }
      default: break;
    }
  }
  auto found = links.find(interface);
  route.usable = !linkDown && found != links.end() && found->second;
  return route;
}

}  // namespace

std::optional<RouteAnswer> QueryDefaultRoute(std::string* error) {
  NetlinkRequest netlink;
  const auto links = QueryLinks(netlink, error);
  if (!links) return std::nullopt;

  // IPv4 first; an IPv6 default route counts as well (an IPv6-only machine,
  // or a tunnel that carries only IPv6, is online too).
  RouteAnswer answer;
  for (const unsigned char family : {AF_INET, AF_INET6}) {
    RouteRequest request = MakeRouteRequest(NLM_F_REQUEST | NLM_F_DUMP, family);
    RouteAnswer found;
    std::uint32_t best = std::numeric_limits<std::uint32_t>::max();
    const bool ok = netlink.Exchange(
        &request.header,
        [&](const nlmsghdr* h) {
          if (h->nlmsg_type != RTM_NEWROUTE) return;
          const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(h));
          if (message->rtm_family != family || message->rtm_dst_len != 0 || message->rtm_type != RTN_UNICAST ||
              message->rtm_table != RT_TABLE_MAIN)
            return;
          const Route route = ReadRoute(h, *links);
          if (!route.usable || (found.usable && route.priority >= best)) return;
          best = route.priority;
          found.usable = true;
          found.onLink = !route.gateway;
        },
        error);
    if (!ok) {
      if (family == AF_INET6) break;  // no IPv6 in this kernel: IPv4 decides
      return std::nullopt;
    }
    if (found.usable && !answer.usable) answer = found;
    else if (found.usable && found.onLink) answer.onLink = true;
  }
  return answer;
}

std::optional<RouteAnswer> QueryRouteTo(in_addr address, std::string* error) {
  NetlinkRequest netlink;
  const auto links = QueryLinks(netlink, error);
  if (!links) return std::nullopt;

  RouteRequest request = MakeRouteRequest(NLM_F_REQUEST);
  request.route.rtm_dst_len = 32;
  AddAttribute(&request.header, RTA_DST, &address, sizeof address);
  RouteAnswer answer;
  int kernelError = 0;
  const bool ok = netlink.Exchange(
      &request.header,
      [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWROUTE) return;
        const auto* message = static_cast<const rtmsg*>(NLMSG_DATA(h));
        if (message->rtm_type == RTN_LOCAL) {  // one of this machine's own addresses
          answer = RouteAnswer{true, true};
          return;
        }
        if (message->rtm_type != RTN_UNICAST) return;
        const Route route = ReadRoute(h, *links);
        answer = RouteAnswer{route.usable, route.usable && !route.gateway};
      },
      error, &kernelError);
  // "No route" is an answer, not a failure.
  if (!ok && (kernelError == ENETUNREACH || kernelError == EHOSTUNREACH)) return RouteAnswer{};
  if (!ok) return std::nullopt;
  return answer;
}

RouteChangeSocket::RouteChangeSocket() {
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd_ < 0) {
    error_ = std::string("cannot open a netlink socket: ") + std::strerror(errno);
    return;
  }
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    error_ = std::string("cannot listen for route changes: ") + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
  }
}

RouteChangeSocket::~RouteChangeSocket() {
  if (fd_ >= 0) ::close(fd_);
}

void RouteChangeSocket::Drain() const {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n > 0) continue;
    if (n < 0 && (errno == EINTR || errno == ENOBUFS)) continue;  // ENOBUFS: we missed some, ask afresh anyway
    return;
  }
}

}  // namespace vantorel
