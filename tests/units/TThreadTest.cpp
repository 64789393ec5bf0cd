#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/CaptureDiagnostics.h"
#include "units/runtime/PollMainLoop.h"
#include "units/runtime/TThread.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;

class Worker : public TObject {
public:
  std::atomic<int> runs{0};
  std::atomic<bool> sawCancel{false};
  std::atomic<bool> wasItsOwnThread{false};
  std::atomic<int> received{0};
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> wokeEarly{false};

  void Run() {
    ++runs;
    wasItsOwnThread = TThread::CurrentThread() != nullptr && !TThread::IsMainThread();
  }
  void SleepOnceThenUntilCancelled() {
    TThread::SleepForTimeInterval(60);
    wokeEarly = true;
    SleepUntilCancelled();
  }
  void SleepUntilCancelled() {
    while (!TThread::CurrentThread()->IsCancelled()) TThread::SleepForTimeInterval(60);
    sawCancel = true;
  }
  void Take(int* value, std::int32_t extra) { received = *value + extra; }
  void OnMain(int* value) {
    ranOnMain = TThread::IsMainThread();
    received = *value;
  }
  void LeaveEarly() {
    TThread::Exit();
    ++runs;  // never reached
  }
};

class TThreadTest : public ::testing::Test {
protected:
  void SetUp() override { MainLoop::SetMain(&loop); }
  void TearDown() override { MainLoop::SetMain(nullptr); }
  PollMainLoop loop;
  TRef<Worker> worker = MakeRef<Worker>();
};

TEST_F(TThreadTest, AStartedThreadRunsItsMethodOnceAndKeepsItselfAlive) {
  TThread* raw;
  {
    TRef<TThread> thread = TThread::Create(&Worker::Run, worker.get());
    EXPECT_FALSE(thread->IsExecuting());
    EXPECT_TRUE(thread->Start());
    EXPECT_FALSE(thread->Start());  // at most once
    raw = thread.get();
    TRef<TThread> keep = thread;  // for the wait below; the creator's is dropped at once
    thread.reset();
    EXPECT_TRUE(keep->WaitUntilFinished(10));
    EXPECT_TRUE(raw->IsFinished());
    EXPECT_FALSE(raw->IsExecuting());
  }
  EXPECT_EQ(worker->runs, 1);
  EXPECT_TRUE(worker->wasItsOwnThread);
  EXPECT_EQ(TThread::CurrentThread(), nullptr);
}

TEST_F(TThreadTest, ANudgeEndsOneSleepAndCancellingEndsTheThread) {
  TRef<TThread> thread = TThread::Create(&Worker::SleepOnceThenUntilCancelled, worker.get());
  thread->Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(thread->IsExecuting());
  const auto before = std::chrono::steady_clock::now();
  thread->Nudge();
  while (!worker->wokeEarly && std::chrono::steady_clock::now() - before < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(worker->wokeEarly);  // not the 60 seconds it asked for
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(worker->sawCancel);  // the next sleep is a whole one again
  EXPECT_TRUE(thread->IsExecuting());
  thread->Cancel();
  EXPECT_TRUE(thread->IsCancelled());
  ASSERT_TRUE(thread->WaitUntilFinished(10));  // not the 60 seconds it asked for
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_TRUE(worker->sawCancel);
}

TEST_F(TThreadTest, ArgumentsReachTheMethodAndForgottenThreadsCleanUp) {
  static int value = 40;
  TThread* thread = TThread::InvokeMethod(&Worker::Take, worker.get(), &value, 2);
  ASSERT_NE(thread, nullptr);
  // The pointer is good until the loop's pass ends and the thread is done.
  EXPECT_TRUE(thread->WaitUntilFinished(10));
  loop.RunOnce(0);
  EXPECT_EQ(worker->received, 42);
}

TEST_F(TThreadTest, AThreadWithoutAnInvocationSaysSoAndEnds) {
  CaptureDiagnostics diagnostics;
  TRef<TThread> thread = TThread::Create(TThread::Invocation{});
  thread->Start();
  ASSERT_TRUE(thread->WaitUntilFinished(10));
  EXPECT_EQ(diagnostics.Text(), "The thread has no invocation.\n");
}

TEST_F(TThreadTest, ExitEndsTheMethodEarly) {
  TRef<TThread> thread = TThread::Create(&Worker::LeaveEarly, worker.get());
  thread->Start();
  ASSERT_TRUE(thread->WaitUntilFinished(10));
  EXPECT_EQ(worker->runs, 0);
}

TEST_F(TThreadTest, MainThreadCallsRunThereAndWait) {
  static int value = 7;
  std::atomic<bool> returned{false};
  std::thread background([&] {
    EXPECT_TRUE(TThread::InvokeMethodOnMainThread(&Worker::OnMain, worker.get(), &value));
    returned = true;
  });
  ASSERT_TRUE(loop.RunUntil([&] { return worker->received == 7; }, 10));
  background.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(worker->ranOnMain);

  static int inline_ = 9;  // on the main thread the call runs within itself
  EXPECT_TRUE(TThread::InvokeMethodOnMainThread(&Worker::OnMain, worker.get(), &inline_));
  EXPECT_EQ(worker->received, 9);
}

TEST_F(TThreadTest, AMainThreadThatIsStoppingIsNotWaitedFor) {
  static int value = 3;
  loop.Quit();
  std::atomic<int> result{-1};
  std::thread background([&] { result = TThread::InvokeMethodOnMainThread(&Worker::OnMain, worker.get(), &value); });
  background.join();
  EXPECT_EQ(result, 0);
  EXPECT_NE(worker->received, 3);
}

}  // namespace
}  // namespace vantorel
