#include "units/net/NetworkReachability.h"

#include <arpa/inet.h>
#include <strings.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/net/RouteTable.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TNumber.h"

namespace vantorel {

const std::string SCNetworkReachabilityChangedNotification = "SCNetworkReachabilityChangedNotification";

namespace {

struct Monitor {
  RouteChangeSocket socket;
  MainLoop* loop = nullptr;
  MainLoop::WatchId watch = 0;
  SCNetworkReachabilityFlags lastFlags = 0;
};

// The monitor being run, or null; `gMonitorMutex` guards the pointer.
std::mutex gMonitorMutex;
std::unique_ptr<Monitor> ReachabilityMonitor;

SCNetworkReachabilityFlags FlagsOf(const RouteAnswer& answer) {
  if (!answer.usable) return 0;
  return kSCNetworkReachabilityFlagsReachable | (answer.onLink ? kSCNetworkReachabilityFlagsIsDirect : 0);
}

// The first IPv4 address /etc/hosts gives for `name`.
bool LookUpHostsFile(const std::string& name, in_addr* address) {
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream fields(line);
    std::string ip, alias;
    if (!(fields >> ip)) continue;
    in_addr parsed{};
    if (::inet_pton(AF_INET, ip.c_str(), &parsed) != 1) continue;
    while (fields >> alias) {
      if (strcasecmp(alias.c_str(), name.c_str()) == 0) {
        *address = parsed;
        return true;
      }
    }
  }
  return false;
}

// Runs on the main loop whenever links, addresses or routes changed.
void OnRouteChange() {
  SCNetworkReachabilityFlags flags = 0;
  {
    std::lock_guard lock(gMonitorMutex);
    if (!ReachabilityMonitor) return;
    ReachabilityMonitor->socket.Drain();
  }
  const SCNetworkReachability wildcard;
  if (!SCNetworkReachabilityGetFlags(wildcard, &flags)) flags = 0;
  {
    std::lock_guard lock(gMonitorMutex);
    if (!ReachabilityMonitor || ReachabilityMonitor->lastFlags == flags) return;
    ReachabilityMonitor->lastFlags = flags;
  }
  // Outside the lock: observers may ask for the reachability again.
  ReachabilityCallback(wildcard, flags, nullptr);
}

}  // namespace

bool SCNetworkReachabilityGetFlags(const SCNetworkReachability& target, SCNetworkReachabilityFlags* flags) {
  std::optional<RouteAnswer> answer;
  if (target.wildcard) {
    answer = QueryDefaultRoute();
  } else {
    in_addr address{};
    address.s_addr = target.address;
    answer = QueryRouteTo(address);
  }
  if (!answer) return false;
  *flags = FlagsOf(*answer);
  return true;
}

void StartMonitoringNetworkReachability() {
  std::lock_guard lock(gMonitorMutex);
  if (ReachabilityMonitor) {
    WriteDiagnosticLine("Already monitoring!");
    return;
  }
  MainLoop* loop = MainLoop::Main();
  auto monitor = std::make_unique<Monitor>();
  if (!monitor->socket.IsOpen() || loop == nullptr) {
    WriteDiagnosticLine("Network reachability is not monitored: " +
                        (loop == nullptr ? std::string("no main loop") : monitor->socket.Error()));
    return;
  }
  // The status at the start is the baseline: only changes are announced.
  if (!SCNetworkReachabilityGetFlags(SCNetworkReachability{}, &monitor->lastFlags)) monitor->lastFlags = 0;
  monitor->loop = loop;
  monitor->watch = loop->WatchReadable(monitor->socket.fd(), OnRouteChange);
  ReachabilityMonitor = std::move(monitor);
}

void StopMonitoringNetworkReachability() {
  std::unique_ptr<Monitor> monitor;
  {
    std::lock_guard lock(gMonitorMutex);
    monitor = std::move(ReachabilityMonitor);
  }
  if (!monitor) {
    WriteDiagnosticLine("Network reachability is not being monitored.");
    return;
  }
  monitor->loop->Unwatch(monitor->watch);
}

bool IsMonitoringNetworkReachability() {
  std::lock_guard lock(gMonitorMutex);
  return ReachabilityMonitor != nullptr;
}

std::int32_t GetNetworkReachability() {
  {
    // While monitoring, the answer is the state the monitor keeps from the
    // kernel's announcements: no system call (the tray asks at every redraw).
    std::lock_guard lock(gMonitorMutex);
    if (ReachabilityMonitor) return GetReachabilityStatus(ReachabilityMonitor->lastFlags);
  }
  return GetReachabilityStatus(SCNetworkReachability{});
}

std::int32_t GetNetworkReachabilityWithHostName(const char* name) {
  if (name == nullptr) return 0;
  in_addr address{};
  if (::inet_pton(AF_INET, name, &address) == 1 || LookUpHostsFile(name, &address))
    return GetReachabilityStatus(SCNetworkReachability{false, address.s_addr});
  return GetNetworkReachability();
}

std::int32_t GetReachabilityStatus(const SCNetworkReachability& reachability) {
  SCNetworkReachabilityFlags flags = 0;
  if (!SCNetworkReachabilityGetFlags(reachability, &flags)) return 0;
  return GetReachabilityStatus(flags);
}

std::int32_t GetReachabilityStatus(SCNetworkReachabilityFlags flags) {
  if (!(flags & kSCNetworkReachabilityFlagsReachable)) return 0;
  std::int32_t status = 0;
  if (!(flags & kSCNetworkReachabilityFlagsConnectionRequired)) status = 1;
  if ((flags & (kSCNetworkReachabilityFlagsConnectionOnDemand | kSCNetworkReachabilityFlagsConnectionOnTraffic)) &&
      !(flags & kSCNetworkReachabilityFlagsInterventionRequired))
    status = 1;
  if (flags & kSCNetworkReachabilityFlagsIsDirect) status = 2;
  return status;
}

void ReachabilityCallback(const SCNetworkReachability&, SCNetworkReachabilityFlags flags, void*) {
  auto status = MakeRef<TNumber>(GetReachabilityStatus(flags));
  TNotificationCenter::DefaultCenter()->PostNotification(SCNetworkReachabilityChangedNotification, status.get());
}

}  // namespace vantorel
