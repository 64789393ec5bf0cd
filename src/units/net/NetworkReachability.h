#pragma once
// Whether the machine can reach the network at all, and a notification on
// the default notification center whenever that changes.
//
// The kernel's routing table stands in for the platform's reachability
// service: the wildcard target is reachable while an IPv4 or IPv6 default
// route exists over an interface that is up, and "directly" reachable when
// that route has no gateway. From that the platform's flags are synthesised
// and mapped to a status: 0 not reachable, 1 reachable, 2 directly reachable.

#include <cstdint>
#include <string>

namespace vantorel {

using SCNetworkReachabilityFlags = std::uint32_t;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 0x2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 0x4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnTraffic = 0x8;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 0x10;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnDemand = 0x20;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 0x20000;

// The name of the notification posted on every change; its posting object is
// the new status as a TNumber.
extern const std::string SCNetworkReachabilityChangedNotification;

// What a reachability question is about: the whole network (the wildcard
// address), or one IPv4 address.
struct SCNetworkReachability {
  bool wildcard = true;
  std::uint32_t address = 0;  // network byte order, when not the wildcard
};

// Reads the flags of `target` now; false when the kernel cannot be asked.
bool SCNetworkReachabilityGetFlags(const SCNetworkReachability& target, SCNetworkReachabilityFlags* flags);

// Starts watching the routing table from the main loop (call on the main
// thread). "Already monitoring!" when it runs; when the kernel cannot be
// watched, one line says why and nothing is monitored.
void StartMonitoringNetworkReachability();
// "Network reachability is not being monitored." when it does not run.
void StopMonitoringNetworkReachability();
bool IsMonitoringNetworkReachability();

// The status of the network now (0 when it cannot be asked). While the
// monitor runs, the state it keeps (no system call); otherwise the kernel is
// asked, synchronously.
std::int32_t GetNetworkReachability();
// The status for one host: an IPv4 address in dotted form or a name listed in
// /etc/hosts is looked up in the routing table; any other name (one that
// would need the network to resolve, or an IPv6 address) gets the status of
// the network in general.
std::int32_t GetNetworkReachabilityWithHostName(const char* name);

std::int32_t GetReachabilityStatus(const SCNetworkReachability& reachability);
std::int32_t GetReachabilityStatus(SCNetworkReachabilityFlags flags);

// Called when the synthesised flags change: posts the notification.
void ReachabilityCallback(const SCNetworkReachability& reachability, SCNetworkReachabilityFlags flags, void* info);

}  // namespace vantorel
