#pragma once
// The poll thread's clock and sleep, injectable so that tests can run passes
// one at a time without waiting for real seconds.

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class TrackerClock {
public:
  virtual ~TrackerClock() = default;
  virtual AbsoluteTime Now() = 0;
  // Sleeps the calling thread; a cancelled poll thread wakes at once.
  virtual void Sleep(double seconds) = 0;
};

// Wall-clock time and real sleeps.
class SystemTrackerClock final : public TrackerClock {
public:
  AbsoluteTime Now() override;
  void Sleep(double seconds) override;
};

}  // namespace vantorel
