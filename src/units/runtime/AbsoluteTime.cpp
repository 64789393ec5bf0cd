#include "units/runtime/AbsoluteTime.h"

#include <chrono>

namespace vantorel {

AbsoluteTime CurrentAbsoluteTime() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return AbsoluteFromUnixTime(std::chrono::duration<double>(now).count());
}

}  // namespace vantorel
