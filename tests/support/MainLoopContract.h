#pragma once
// What every main loop must do, whatever runs it: one typed test suite that
// each loop's test instantiates, so the loops cannot drift apart.
//
// A loop type L needs a LoopDriver<L> with
//   static bool RunUntil(L&, const std::function<bool()>& done, double seconds);
//   static void RunOnce(L&, double seconds);   // serve what is due, waiting at most that long
//   static void Quit(L&);

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vantorel::test {

template <typename Loop>
struct LoopDriver;

template <typename Loop>
class MainLoopContract : public ::testing::Test {};

TYPED_TEST_SUITE_P(MainLoopContract);

TYPED_TEST_P(MainLoopContract, PostedTasksRunOnTheMainThreadInOrder) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
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
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return order.size() == 3; }, 5));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(offMain);
}

TYPED_TEST_P(MainLoopContract, PostAndWaitRunsOnTheMainThreadBeforeReturning) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
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
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return ran; }, 5));
  worker.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(sawItRun);
}

TYPED_TEST_P(MainLoopContract, PostAndWaitOnTheMainThreadRunsInline) {
  TypeParam loop;
  bool ran = false;
  EXPECT_TRUE(loop.PostAndWait([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TYPED_TEST_P(MainLoopContract, QuitReleasesAWaitingThreadWithoutRunningItsTask) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread worker([&] { result = loop.PostAndWait([&] { ran = true; }) ? 1 : 0; });
  // The worker blocks until the loop serves it or stops; the loop stops.
  while (result == -1) {
    Driver::Quit(loop);
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

TYPED_TEST_P(MainLoopContract, DestroyingTheLoopReleasesWaiters) {
  std::atomic<int> result{-1};
  std::thread worker;
  {
    TypeParam loop;
    worker = std::thread([&] { result = loop.PostAndWait([] {}) ? 1 : 0; });
    // Give the worker a moment to start waiting; either way it must not hang.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  worker.join();
  EXPECT_EQ(result, 0);
}

TYPED_TEST_P(MainLoopContract, TimersFireInDeadlineOrderAndCancelledOnesNever) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  std::vector<int> fired;
  loop.AddTimer(0.03, [&] { fired.push_back(3); });
  loop.AddTimer(0.01, [&] { fired.push_back(1); });
  const auto cancelled = loop.AddTimer(0.02, [&] { fired.push_back(2); });
  loop.CancelTimer(cancelled);
  loop.CancelTimer(9999);  // unknown ids are ignored
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return fired.size() == 2; }, 5));
  Driver::RunOnce(loop, 0.05);
  EXPECT_EQ(fired, (std::vector<int>{1, 3}));
}

TYPED_TEST_P(MainLoopContract, ATimerThatReArmsItselfDoesNotStallThePass) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  int fired = 0;
  std::function<void()> rearm = [&] {
    ++fired;
    loop.AddTimer(0, rearm);
  };
  loop.AddTimer(0, rearm);
  Driver::RunOnce(loop, 0);
  EXPECT_EQ(fired, 1);
  Driver::RunOnce(loop, 0);
  EXPECT_EQ(fired, 2);
}

TYPED_TEST_P(MainLoopContract, TimersAddedFromAnotherThreadWakeTheLoop) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  std::atomic<bool> fired{false};
  std::thread adder([&] { loop.AddTimer(0.01, [&] { fired = loop.IsMainThread(); }); });
  adder.join();
  EXPECT_TRUE(Driver::RunUntil(loop, [&] { return fired.load(); }, 5));
}

TYPED_TEST_P(MainLoopContract, ReadableDescriptorsAreServedUntilUnwatched) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
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
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return received == "ab"; }, 5));
  loop.Unwatch(watch);
  const int before = calls;
  ASSERT_EQ(::write(fds[1], "c", 1), 1);
  Driver::RunOnce(loop, 0.02);
  EXPECT_EQ(calls, before);
  ::close(fds[0]);
  ::close(fds[1]);
}

TYPED_TEST_P(MainLoopContract, ManyThreadsPostingAndWaitingAllComplete) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
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
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return done == 4 && counter == 400; }, 10));
  for (auto& w : workers) w.join();
  EXPECT_EQ(counter, 400);
}

TYPED_TEST_P(MainLoopContract, EndOfPassTasksRunAfterTheQueuedWork) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  std::vector<int> order;
  loop.AtEndOfPass([&] { order.push_back(2); });
  loop.Post([&] { order.push_back(1); });
  std::atomic<bool> fromThread{false};
  std::thread other([&] { loop.AtEndOfPass([&] { fromThread = loop.IsMainThread(); }); });
  other.join();
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return order.size() == 2 && fromThread; }, 5));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TYPED_TEST_P(MainLoopContract, AWatchMayEndItselfFromItsOwnTask) {
  using Driver = LoopDriver<TypeParam>;
  TypeParam loop;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int calls = 0;
  typename TypeParam::WatchId watch = 0;
  watch = loop.WatchReadable(fds[0], [&] {
    ++calls;
    loop.Unwatch(watch);  // the data stays unread: a level-triggered watch would fire again
  });
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  ASSERT_TRUE(Driver::RunUntil(loop, [&] { return calls > 0; }, 5));
  Driver::RunOnce(loop, 0.05);
  EXPECT_EQ(calls, 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

REGISTER_TYPED_TEST_SUITE_P(MainLoopContract, PostedTasksRunOnTheMainThreadInOrder, PostAndWaitRunsOnTheMainThreadBeforeReturning, PostAndWaitOnTheMainThreadRunsInline, QuitReleasesAWaitingThreadWithoutRunningItsTask, DestroyingTheLoopReleasesWaiters, TimersFireInDeadlineOrderAndCancelledOnesNever, ATimerThatReArmsItselfDoesNotStallThePass, TimersAddedFromAnotherThreadWakeTheLoop, ReadableDescriptorsAreServedUntilUnwatched, ManyThreadsPostingAndWaitingAllComplete, EndOfPassTasksRunAfterTheQueuedWork,
                            AWatchMayEndItselfFromItsOwnTask);

}  // namespace vantorel::test
