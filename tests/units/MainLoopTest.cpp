#include <gtest/gtest.h>

#include "support/MainLoopContract.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel {

namespace test {
template <>
struct LoopDriver<PollMainLoop> {
  static bool RunUntil(PollMainLoop& loop, const std::function<bool()>& done, double seconds) {
    return loop.RunUntil(done, seconds);
  }
  static void RunOnce(PollMainLoop& loop, double seconds) { loop.RunOnce(seconds); }
  static void Quit(PollMainLoop& loop) { loop.Quit(); }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Poll, MainLoopContract, PollMainLoop);
}  // namespace test

namespace {

TEST(MainLoop, TheInstalledLoopIsForgottenWhenDestroyed) {
  {
    PollMainLoop loop;
    MainLoop::SetMain(&loop);
    EXPECT_EQ(MainLoop::Main(), &loop);
  }
  EXPECT_EQ(MainLoop::Main(), nullptr);
}

}  // namespace
}  // namespace vantorel
