// Measures the runtime's hand-offs against a bare mutex + condition-variable
// hand-off between two threads, and counts the main loop's idle wake-ups.
//
//   scripts/build bench && build/bench/bin/vantorel_runtime_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "RatioReporter.h"
#include "units/runtime/PollMainLoop.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TThread.h"

namespace {

using namespace vantorel;

class Sink : public TObject {
public:
  long calls = 0;
  void Call(int*) { ++calls; }
  void Hear(TNotification*) { ++calls; }
};

// A worker asks the main thread to run a method and waits for it.
void BM_InvokeMethodOnMainThread(benchmark::State& state) {
  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  std::thread mainThread([&] { loop.Run(); });
  while (loop.IsMainThread()) std::this_thread::yield();  // until the loop thread has taken over
  auto sink = MakeRef<Sink>();
  int argument = 0;
  for (auto _ : state) TThread::InvokeMethodOnMainThread(&Sink::Call, sink.get(), &argument);
  loop.Quit();
  mainThread.join();
  MainLoop::SetMain(nullptr);
}

// The same round trip with nothing but a mutex and a condition variable.
void BM_HandOff_raw(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable changed;
  bool requested = false, done = false, stop = false;
  long calls = 0;
  std::thread server([&] {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return requested || stop; });
      if (stop) return;
      requested = false;
      ++calls;
      done = true;
      changed.notify_all();
    }
  });
  for (auto _ : state) {
    std::unique_lock lock(mutex);
    requested = true;
    done = false;
    changed.notify_all();
    changed.wait(lock, [&] { return done; });
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  changed.notify_all();
  server.join();
  benchmark::DoNotOptimize(calls);
}

void BM_PostNotification(benchmark::State& state) {
  auto center = MakeRef<TNotificationCenter>();
  auto sink = MakeRef<Sink>();
  center->ObserveNotification(sink.get(), "Changed", &Sink::Hear);
  for (auto _ : state) center->PostNotification("Changed");
  benchmark::DoNotOptimize(sink->calls);
}

BENCHMARK(BM_InvokeMethodOnMainThread)->UseRealTime();
BENCHMARK(BM_HandOff_raw)->UseRealTime();
BENCHMARK(BM_PostNotification);

// Passes the loop runs in one second with nothing to do.
std::uint64_t IdlePassesPerSecond() {
  PollMainLoop loop;
  std::thread mainThread([&] { loop.Run(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::uint64_t before = loop.PassCount();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::uint64_t passes = loop.PassCount() - before;
  loop.Quit();
  mainThread.join();
  return passes;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double raw = reporter.Of("BM_HandOff_raw");
  std::printf("\nAgainst a bare mutex + condition-variable hand-off (%.0f ns):\n", raw);
  if (raw > 0) {
    std::printf("  InvokeMethodOnMainThread  %8.0f ns  %5.2fx\n", reporter.Of("BM_InvokeMethodOnMainThread"),
                reporter.Of("BM_InvokeMethodOnMainThread") / raw);
    std::printf("  PostNotification          %8.0f ns  %5.2fx\n", reporter.Of("BM_PostNotification"),
                reporter.Of("BM_PostNotification") / raw);
  }
  std::printf("Idle main loop: %llu wake-ups in one second (target 0)\n",
              static_cast<unsigned long long>(IdlePassesPerSecond()));
  benchmark::Shutdown();
  return 0;
}
