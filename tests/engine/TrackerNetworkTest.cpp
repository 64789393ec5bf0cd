// The tracker pauses while the network is gone and resumes when it returns.
// The process moves into a private network namespace first (root only; the
// test skips otherwise) and adds and removes its default route there.

#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/TrackerFixture.h"
#include "units/NetworkReachability.h"
#include "units/TNotificationCenter.h"

namespace vantorel {
namespace {

std::string gNamespaceProblem;

bool Ip(const std::string& arguments) {
  return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

class TrackerNetworkTest : public test::TrackerFixture {};

TEST_F(TrackerNetworkTest, LosingTheNetworkPausesAndItsReturnResumes) {
  if (!gNamespaceProblem.empty()) GTEST_SKIP() << gNamespaceProblem;
  auto& t = MakeTracker();
  StartMonitoringNetworkReachability();
  ASSERT_TRUE(IsMonitoringNetworkReachability());

  ASSERT_TRUE(Ip("route add default via 192.0.2.1 dev veth-a"));
  loop.RunUntil([] { return false; }, 0.3);
  EXPECT_FALSE(t.IsPaused());

  ASSERT_TRUE(Ip("route del default"));
  EXPECT_TRUE(loop.RunUntil([&] { return t.IsPaused(); }, 5));

  // Polling was slowed meanwhile; the network's return restarts it at 1 s.
  t.QueueFile(Item("x.txt"));
  ASSERT_TRUE(Ip("route add default dev veth-a"));
  EXPECT_TRUE(loop.RunUntil([&] { return !t.IsPaused(); }, 5));
  EXPECT_DOUBLE_EQ(t.GetPollInterval(), 1.0);
  StopMonitoringNetworkReachability();
}

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::unshare(CLONE_NEWNET) != 0) {
    vantorel::gNamespaceProblem = std::string("cannot make a private network namespace (") + std::strerror(errno) +
                                  "); run as root to test against real routing tables";
  } else {
    const std::string path = std::string("/usr/sbin:/sbin:") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin");
    ::setenv("PATH", path.c_str(), 1);
    if (!vantorel::Ip("link set lo up") || !vantorel::Ip("link add veth-a type veth peer name veth-b") ||
        !vantorel::Ip("addr add 192.0.2.2/24 dev veth-a") || !vantorel::Ip("link set veth-a up") ||
        !vantorel::Ip("link set veth-b up"))
      vantorel::gNamespaceProblem = "cannot set up a veth pair with the ip tool (is iproute2 installed?)";
  }
  return RUN_ALL_TESTS();
}
