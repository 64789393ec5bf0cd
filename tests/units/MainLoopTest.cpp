#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "units/runtime/PollMainLoop.h"

namespace vantorel {
namespace {

TEST(PollMainLoop, PostedTasksRunOnTheMainThreadInOrder) {
  PollMainLoop loop;
  std::vector<int> order;
  std::atomic<bool> offMain{false};
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i)
      loop.Post([&, i] {
        if (!loop.IsMainThread()) offMain = true;
        order.push_back(i);
      });
  });
  poster.join();
  ASSERT_TRUE(loop.RunUntil([&] { return order.size() == 3; }, 5));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(offMain);
}

TEST(PollMainLoop, PostAndWaitRunsOnTheMainThreadBeforeReturning) {
  PollMainLoop loop;
  bool ran = false;
  bool ranOnMain = false;
  bool result = false;
  bool sawItRun = false;
  std::thread worker([&] {
    result = loop.PostAndWait([&] {
      ran = true;
      ranOnMain = loop.IsMainThread();
    });
    sawItRun = ran;  // the task's effects are visible once the wait returns
  });
  ASSERT_TRUE(loop.RunUntil([&] { return ran; }, 5));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(sawItRun);
}

TEST(PollMainLoop, PostAndWaitOnTheMainThreadRunsInline) {
  PollMainLoop loop;
  bool ran = false;
  EXPECT_TRUE(loop.PostAndWait([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(PollMainLoop, QuitReleasesAWaitingThreadWithoutRunningItsTask) {
  PollMainLoop loop;
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = loop.PostAndWait([&] { ran = true; }) ? 1 : 0; });
  // The worker blocks until the loop serves it or stops; the loop stops.
  while (result == -1) {
    loop.Quit();
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  // Once stopping, further waits are refused at once.
  std::thread late([&] { result = loop.PostAndWait([&] { ran = true; }) ? 1 : 0; });
  late.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
}

TEST(PollMainLoop, DestroyingTheLoopReleasesWaiters) {
  std::atomic<int> result{-1};
  std::thread worker;
  {
    PollMainLoop loop;
    worker = std::thread([&] { result = loop.PostAndWait([] {}) ? 1 : 0; });
    // Give the worker a moment to start waiting; either way it must not hang.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
  EXPECT_EQ(result, 0);
}

TEST(PollMainLoop, TimersFireInDeadlineOrderAndCancelledOnesNever) {
  PollMainLoop loop;
  std::vector<int> fired;
  loop.AddTimer(0.03, [&] { fired.push_back(3); });
  loop.AddTimer(0.01, [&] { fired.push_back(1); });
  const auto cancelled = loop.AddTimer(0.02, [&] { fired.push_back(2); });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(9999);  // unknown ids are ignored
  ASSERT_TRUE(loop.RunUntil([&] { return fired.size() == 2; }, 5));
  loop.RunOnce(0.05);
  EXPECT_EQ(fired, (std::vector<int>{1, 3}));
}

TEST(PollMainLoop, ATimerThatReArmsItselfDoesNotStallThePass) {
  PollMainLoop loop;
  int fired = 0;
  std::function<void()> rearm = [&] {
    ++fired;
    loop.AddTimer(0, rearm);
  };
  loop.AddTimer(0, rearm);
  loop.RunOnce(0);
  EXPECT_EQ(fired, 1);
  loop.RunOnce(0);
  EXPECT_EQ(fired, 2);
}

TEST(PollMainLoop, TimersAddedFromAnotherThreadWakeTheLoop) {
  PollMainLoop loop;
  std::atomic<bool> fired{false};
  std::thread adder([&] { loop.AddTimer(0.01, [&] { fired = loop.IsMainThread(); }); });
  adder.join();
  EXPECT_TRUE(loop.RunUntil([&] { return fired.load(); }, 5));
}

TEST(PollMainLoop, ReadableDescriptorsAreServedUntilUnwatched) {
  PollMainLoop loop;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int calls = 0;
  std::string received;
  const auto watch = loop.WatchReadable(fds[0], [&] {
    ++calls;
    char buffer[16];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
  });
  ASSERT_EQ(::write(fds[1], "ab", 2), 2);
  ASSERT_TRUE(loop.RunUntil([&] { return received == "ab"; }, 5));
  loop.Unwatch(watch);
  const int before = calls;
  ASSERT_EQ(::write(fds[1], "c", 1), 1);
  loop.RunOnce(0.02);
  EXPECT_EQ(calls, before);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(PollMainLoop, ManyThreadsPostingAndWaitingAllComplete) {
  PollMainLoop loop;
  int done = 0;     // both touched on the main thread only
  int counter = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        loop.PostAndWait([&] { ++counter; });
        loop.Post([&] { ++counter; });
      }
      loop.Post([&] { ++done; });
    });
  ASSERT_TRUE(loop.RunUntil([&] { return done == 4 && counter == 400; }, 10));
  for (auto& w : workers) w.join();
  EXPECT_EQ(counter, 400);
}

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
