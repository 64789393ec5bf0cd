#pragma once
// How long the main loop keeps a 2 ms timer waiting: the longest lateness
// of a repeating timer since it was made (or `worst` was last reset).

#include <algorithm>
#include <chrono>

#include "units/runtime/MainLoop.h"

namespace vantorel::bench {

struct LatenessProbe {
  using Clock = std::chrono::steady_clock;
  explicit LatenessProbe(MainLoop& loop) : loop_(loop) { Arm(); }
  void Arm() {
    due_ = Clock::now() + std::chrono::milliseconds(2);
    loop_.AddTimer(0.002, [this] {
      worst_ = std::max(worst_, std::chrono::duration<double, std::milli>(Clock::now() - due_).count());
      Arm();
    });
  }
  MainLoop& loop_;
  Clock::time_point due_;
  double worst_ = 0;  // milliseconds
};

}  // namespace vantorel::bench
