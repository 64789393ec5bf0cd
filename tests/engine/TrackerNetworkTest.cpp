// The tracker pauses while the network is gone and resumes when it returns.
// The process moves into a private network namespace first (root only; the
// test skips otherwise) and adds and removes its default route there.

#include <gtest/gtest.h>

#include "support/PrivateNetwork.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/TrackerFixture.h"
#include "units/net/NetworkReachability.h"
#include "units/runtime/TNotificationCenter.h"

namespace vantorel {
namespace {

std::string gNamespaceProblem;

using test::Ip;

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
  // Before any thread exists: the whole process moves into its own network.
  vantorel::gNamespaceProblem = vantorel::test::EnterPrivateNetwork();
  return RUN_ALL_TESTS();
}
