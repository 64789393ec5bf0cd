#include "desktop/status/ProgressWheelState.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

double ProgressWheelState::Fraction() const {
  if (!(currentValue_ > 0.0)) return 0.0;
  const double fraction = currentValue_ / (maxValue_ - minValue_);
  if (std::isnan(fraction)) return 0.0;
  return std::clamp(fraction, 0.0, 1.0);
}

int ProgressWheelState::SweepDegrees() const {
  // lrint rounds in the current mode, to nearest with ties to even.
  return static_cast<int>(std::lrint(360.0 * Fraction()));
}

}  // namespace vantorel
