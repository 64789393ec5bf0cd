#pragma once
// A tracker clock that only moves when told: sleeping advances it at once.

#include <functional>
#include <mutex>
#include <vector>

#include "engine/TrackerClock.h"

namespace vantorel::test {

class ManualClock final : public TrackerClock {
public:
  explicit ManualClock(AbsoluteTime start = 800000000.0) : now_(start) {}
  AbsoluteTime Now() override {
    std::lock_guard lock(mutex_);
    const AbsoluteTime now = now_;
    now_ += autoAdvance_;
    return now;
  }
  // Each look at the clock finds this many seconds gone since the last.
  void SetAutoAdvance(double seconds) {
    std::lock_guard lock(mutex_);
    autoAdvance_ = seconds;
  }
  void Sleep(double seconds) override {
    std::function<void()> hook;
    {
      std::lock_guard lock(mutex_);
      now_ += seconds;
      sleeps_.push_back(seconds);
      hook = onSleep_;
    }
    if (hook) hook();
  }
  void Advance(double seconds) {
    std::lock_guard lock(mutex_);
    now_ += seconds;
  }
  std::vector<double> Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }
  // Called after every sleep (to resume a paused tracker, say).
  void OnSleep(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    onSleep_ = std::move(hook);
  }

private:
  mutable std::mutex mutex_;
  AbsoluteTime now_;
  double autoAdvance_ = 0;
  std::vector<double> sleeps_;
  std::function<void()> onSleep_;
};

}  // namespace vantorel::test
