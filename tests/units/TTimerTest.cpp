#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/CaptureDiagnostics.h"
#include "units/runtime/PollMainLoop.h"
#include "units/runtime/TTimer.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;

class Target : public TObject {
public:
  int fired = 0;
  bool onMain = true;
  std::vector<void*> arguments;
  PollMainLoop* loop = nullptr;

  void Tick() {
    ++fired;
    onMain = onMain && loop->IsMainThread();
  }
  void TickWith(void* argument) {
    arguments.push_back(argument);
    ++fired;
  }
  void StopAfterThree(void* argument) {
    auto* timer = static_cast<TTimer*>(argument);
    if (++fired == 3) timer->Remove();
  }
};

// A timer that counts how many of its kind have been destroyed.
std::atomic<int> gTimersGone{0};
class CountedTimer : public TTimer {
public:
  CountedTimer(double delay, Action action) : TTimer(delay, 0.0, std::move(action), nullptr) {}

protected:
  void Deallocate() override {
    ++gTimersGone;
    TTimer::Deallocate();
  }
};

class TTimerTest : public ::testing::Test {
protected:
  void SetUp() override {
    MainLoop::SetMain(&loop);
    target->loop = &loop;
  }
  void TearDown() override { MainLoop::SetMain(nullptr); }
  PollMainLoop loop;
  TRef<Target> target = MakeRef<Target>();
};

TEST_F(TTimerTest, AForgottenOneShotFiresOnceOnTheMainThreadAndIsGone) {
  gTimersGone = 0;
  {
    auto timer = MakeRef<CountedTimer>(0.02, [this](void*) { target->Tick(); });
    timer->Install();
  }  // the creator's reference is gone; the installed timer lives on
  EXPECT_EQ(gTimersGone, 0);
  ASSERT_TRUE(loop.RunUntil([&] { return target->fired == 1; }, 5));
  EXPECT_EQ(gTimersGone, 1);
  loop.RunOnce(0.05);
  EXPECT_EQ(target->fired, 1);
  EXPECT_TRUE(target->onMain);
}

TEST_F(TTimerTest, SeveralOneShotsForOneMethodEachFireOnce) {
  for (int i = 0; i < 3; ++i) ASSERT_NE(TTimer::InvokeMethod(0.01 * i, &Target::Tick, target.get()), nullptr);
  ASSERT_TRUE(loop.RunUntil([&] { return target->fired == 3; }, 5));
  loop.RunOnce(0.05);
  EXPECT_EQ(target->fired, 3);
}

TEST_F(TTimerTest, TheActionGetsTheParametersOrElseTheTimer) {
  int parameters = 0;
  TTimer* withParameters = TTimer::InvokeMethod(0, 0.0, &Target::TickWith, target.get(), &parameters);
  TTimer* without = TTimer::InvokeMethod(0, 0.0, &Target::TickWith, target.get());
  ASSERT_TRUE(loop.RunUntil([&] { return target->fired == 2; }, 5));
  ASSERT_NE(withParameters, nullptr);
  EXPECT_EQ(target->arguments, (std::vector<void*>{&parameters, without}));
}

TEST_F(TTimerTest, ARepeatingTimerFiresUntilRemovedFromItsOwnAction) {
  TRef<TTimer> timer = TTimer::Create(0.0, 0.01, &Target::StopAfterThree, target.get());
  timer->Install();
  ASSERT_TRUE(loop.RunUntil([&] { return !timer->IsValid(); }, 5));
  EXPECT_EQ(target->fired, 3);
  EXPECT_EQ(timer->GetFiredState(), 2);
  EXPECT_GT(timer->GetElapsedTime(), 0.0);
  loop.RunOnce(0.05);
  EXPECT_EQ(target->fired, 3);
}

TEST_F(TTimerTest, InstallingTwiceAndRemovingTwiceOnlyWarn) {
  CaptureDiagnostics diagnostics;
  TRef<TTimer> timer = TTimer::Create(10.0, 0.0, &Target::Tick, target.get());
  timer->Install();
  timer->Install();
  EXPECT_TRUE(timer->IsValid());
  timer->Remove();
  timer->Remove();
  EXPECT_FALSE(timer->IsValid());
  EXPECT_EQ(diagnostics.Text(),
            "Warning: Attempted to re-install timer.\n"
            "Warning: Attempted to remove an uninstalled timer.\n");
  EXPECT_EQ(timer->RetainCount(), 1);  // only ours: the installed reference went with Remove
  EXPECT_EQ(timer->GetFiredState(), 0);
}

TEST_F(TTimerTest, InstalledFromAnotherThreadItStillFiresOnTheMainThread) {
  std::thread([&] { TTimer::InvokeMethod(0.01, &Target::Tick, target.get()); }).join();
  ASSERT_TRUE(loop.RunUntil([&] { return target->fired == 1; }, 5));
  EXPECT_TRUE(target->onMain);
}

TEST_F(TTimerTest, TimersDoNotOwnTheirTargetsUnlessAsked) {
  EXPECT_FALSE(TTimer::GlobalRetainTargetOwnership());
  const int before = target->RetainCount();
  TRef<TTimer> timer = TTimer::Create(1.0, 0.0, &Target::Tick, target.get());
  EXPECT_EQ(target->RetainCount(), before);
  TTimer::SetRetainTargetOwnership(true);
  TRef<TTimer> owning = TTimer::Create(1.0, 0.0, &Target::Tick, target.get());
  TTimer::SetRetainTargetOwnership(false);
  EXPECT_EQ(target->RetainCount(), before + 1);
}

TEST(TTimerShutdown, PendingTimersGoAwayWithTheLoop) {
  gTimersGone = 0;
  {
    PollMainLoop loop;
    MainLoop::SetMain(&loop);
    MakeRef<CountedTimer>(60.0, [](void*) {})->Install();
    MakeRef<CountedTimer>(60.0, [](void*) {})->Install();
  }
  EXPECT_EQ(gTimersGone, 2);
  EXPECT_EQ(MainLoop::Main(), nullptr);
}

}  // namespace
}  // namespace vantorel
