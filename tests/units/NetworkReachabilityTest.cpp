// Reachability against real routing tables. The test process moves into a
// private network namespace of its own before any test runs (that needs
// root); there it builds a veth pair and adds and removes default routes.
// Without root the namespace tests skip and say why.

#include <gtest/gtest.h>

#include "support/PrivateNetwork.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/CaptureDiagnostics.h"
#include "units/net/NetworkReachability.h"
#include "units/runtime/PollMainLoop.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TNumber.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;

std::string gNamespaceProblem;  // empty when the private namespace is ready

using test::Ip;

TEST(ReachabilityStatus, MapsThePlatformFlags) {
  EXPECT_EQ(GetReachabilityStatus(0x2u), 1);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x4u), 0);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x4u | 0x20u), 1);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x4u | 0x8u), 1);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x4u | 0x20u | 0x10u), 0);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x20000u), 2);
  EXPECT_EQ(GetReachabilityStatus(0x2u | 0x4u | 0x20000u), 2);
  EXPECT_EQ(GetReachabilityStatus(0x20000u), 0);
  EXPECT_EQ(GetReachabilityStatus(0u), 0);
}

TEST(ReachabilityMonitor, StartingTwiceAndStoppingTwiceOnlySaySo) {
  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  CaptureDiagnostics diagnostics;
  StartMonitoringNetworkReachability();
  ASSERT_TRUE(IsMonitoringNetworkReachability()) << diagnostics.Text();
  StartMonitoringNetworkReachability();
  StopMonitoringNetworkReachability();
  StopMonitoringNetworkReachability();
  EXPECT_FALSE(IsMonitoringNetworkReachability());
  EXPECT_EQ(diagnostics.Text(), "Already monitoring!\nNetwork reachability is not being monitored.\n");
  MainLoop::SetMain(nullptr);
}

TEST(ReachabilityMonitor, WithoutAMainLoopNothingIsMonitoredAndOneLineSaysWhy) {
  CaptureDiagnostics diagnostics;
  StartMonitoringNetworkReachability();
  EXPECT_FALSE(IsMonitoringNetworkReachability());
  EXPECT_EQ(diagnostics.Text(), "Network reachability is not monitored: no main loop\n");
}

class Recorder : public TObject {
public:
  std::vector<std::int64_t> statuses;
  void Changed(TNotification* n) {
    auto* number = dynamic_cast<TNumber*>(n->Object());
    statuses.push_back(number ? number->IntegerValue() : -1);
  }
};

class PrivateNetwork : public ::testing::Test {
protected:
  void SetUp() override {
    if (!gNamespaceProblem.empty()) GTEST_SKIP() << gNamespaceProblem;
    // Each test starts from a table with the veth's own subnet only.
    Ip("link set veth-a up");
    Ip("route flush table main");
    Ip("-6 route flush table main");
    Ip("route add 192.0.2.0/24 dev veth-a");
    MainLoop::SetMain(&loop);
  }
  void TearDown() override {
    if (IsMonitoringNetworkReachability()) StopMonitoringNetworkReachability();
    TNotificationCenter::DefaultCenter()->RemoveEveryObserver(recorder.get());
    MainLoop::SetMain(nullptr);
  }
  // Serves the loop until the route change has been seen (or a while passed).
  void Settle(std::size_t notifications) {
    loop.RunUntil([&] { return recorder->statuses.size() >= notifications; }, 5);
    loop.RunOnce(0.1);  // anything more would show up now
  }
  PollMainLoop loop;
  TRef<Recorder> recorder = MakeRef<Recorder>();
};

TEST_F(PrivateNetwork, TheQueryFollowsTheDefaultRoute) {
  EXPECT_EQ(GetNetworkReachability(), 0);
  ASSERT_TRUE(Ip("route add default via 192.0.2.1 dev veth-a"));
  EXPECT_EQ(GetNetworkReachability(), 1);
  ASSERT_TRUE(Ip("route del default"));
  ASSERT_TRUE(Ip("route add default dev veth-a"));  // on-link: no gateway
  EXPECT_EQ(GetNetworkReachability(), 2);
  ASSERT_TRUE(Ip("link set veth-a down"));  // a route over a down interface is no way out
  EXPECT_EQ(GetNetworkReachability(), 0);
  ASSERT_TRUE(Ip("link set veth-a up"));
}

TEST_F(PrivateNetwork, AnIPv6DefaultRouteIsAWayOutToo) {
  EXPECT_EQ(GetNetworkReachability(), 0);
  ASSERT_TRUE(Ip("-6 route add default via fe80::1 dev veth-a"));
  EXPECT_EQ(GetNetworkReachability(), 1);
  ASSERT_TRUE(Ip("-6 route del default via fe80::1 dev veth-a"));
  ASSERT_TRUE(Ip("-6 route add default dev veth-a"));
  EXPECT_EQ(GetNetworkReachability(), 2);
}

TEST_F(PrivateNetwork, WhileMonitoredTheAnswerIsTheMonitorsStateWithNoSystemCall) {
  StartMonitoringNetworkReachability();
  ASSERT_TRUE(IsMonitoringNetworkReachability());
  TNotificationCenter::DefaultCenter()->ObserveNotification(recorder.get(), SCNetworkReachabilityChangedNotification,
                                                            &Recorder::Changed);
  ASSERT_TRUE(Ip("route add default via 192.0.2.1 dev veth-a"));
  // Until the main loop has read the kernel's announcement, the kept state stands.
  EXPECT_EQ(GetNetworkReachability(), 0);
  Settle(1);
  EXPECT_EQ(GetNetworkReachability(), 1);
  ASSERT_TRUE(Ip("route del default"));
  ASSERT_TRUE(Ip("-6 route add default via fe80::1 dev veth-a"));
  loop.RunUntil([] { return false; }, 0.5);  // the announcements arrive (they may cancel out)
  EXPECT_EQ(GetNetworkReachability(), 1);  // still online, through IPv6
}

TEST_F(PrivateNetwork, HostQueriesLookAtTheRouteToThatHost) {
  EXPECT_EQ(GetNetworkReachabilityWithHostName("192.0.2.1"), 2);
  EXPECT_EQ(GetNetworkReachabilityWithHostName("198.51.100.7"), 0);  // no default route
  ASSERT_TRUE(Ip("route add default via 192.0.2.1 dev veth-a"));
  EXPECT_EQ(GetNetworkReachabilityWithHostName("198.51.100.7"), 1);
  EXPECT_EQ(GetNetworkReachabilityWithHostName("name.that.needs.dns.invalid"), 1);  // general reachability
}

TEST_F(PrivateNetwork, EveryChangeIsAnnouncedOnceWithTheNewStatus) {
  ASSERT_TRUE(Ip("route add default via 192.0.2.1 dev veth-a"));
  TNotificationCenter::DefaultCenter()->ObserveNotification(recorder.get(), SCNetworkReachabilityChangedNotification,
                                                            &Recorder::Changed);
  StartMonitoringNetworkReachability();
  ASSERT_TRUE(IsMonitoringNetworkReachability());
  loop.RunOnce(0.1);
  EXPECT_TRUE(recorder->statuses.empty());  // starting announces nothing

  ASSERT_TRUE(Ip("route del default"));
  Settle(1);
  EXPECT_EQ(recorder->statuses, (std::vector<std::int64_t>{0}));

  ASSERT_TRUE(Ip("route add default dev veth-a"));
  Settle(2);
  EXPECT_EQ(recorder->statuses, (std::vector<std::int64_t>{0, 2}));

  // Changes that leave the status as it was announce nothing.
  ASSERT_TRUE(Ip("route add 198.51.100.0/24 dev veth-a"));
  loop.RunOnce(0.2);
  EXPECT_EQ(recorder->statuses.size(), 2u);
}

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Before any thread exists: the whole process moves into its own network.
  vantorel::gNamespaceProblem = vantorel::test::EnterPrivateNetwork();
  return RUN_ALL_TESTS();
}
