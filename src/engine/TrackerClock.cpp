#include "engine/TrackerClock.h"

#include "units/runtime/TThread.h"

namespace vantorel {

AbsoluteTime SystemTrackerClock::Now() { return CurrentAbsoluteTime(); }

void SystemTrackerClock::Sleep(double seconds) { TThread::SleepForTimeInterval(seconds); }

}  // namespace vantorel
