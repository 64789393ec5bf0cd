#include "engine/PollPacing.h"

#include <algorithm>

namespace vantorel {

namespace {
constexpr double kIntervalGrowth = 0.25;
}

void PollPacing::Reset(std::int64_t pollingMode) {
  interval_ = 1.0;
  if (pollingMode == 0) sliceSize_ = 100;
  if (pollingMode == 1) sliceSize_ = 25;
  if (pollingMode == 2) sliceSize_ = 200;
}

void PollPacing::EndPass(int inProgress) {
  if (completionsThisPass_.load() == 0 && inProgress > 0)
    interval_ = std::min(interval_.load() + kIntervalGrowth, IntervalCeiling(inProgress));
}

double PollPacing::IntervalCeiling(int inProgress) {
  if (inProgress <= 10) return 10;
  if (inProgress <= 50) return 20;
  if (inProgress <= 100) return 30;
  return 60;
}

}  // namespace vantorel
