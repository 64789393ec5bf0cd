#pragma once
// Absolute time: seconds as a double since 1 January 2001, 00:00:00 UTC.
// 0.0 means "not set" wherever the program stores a time.

namespace vantorel {

using AbsoluteTime = double;

// Seconds between the Unix epoch and the absolute-time reference date.
inline constexpr double kAbsoluteTimeIntervalSince1970 = 978307200.0;

AbsoluteTime CurrentAbsoluteTime();

inline double UnixTimeFromAbsolute(AbsoluteTime t) { return t + kAbsoluteTimeIntervalSince1970; }
inline AbsoluteTime AbsoluteFromUnixTime(double unixSeconds) {
  return unixSeconds - kAbsoluteTimeIntervalSince1970;
}

}  // namespace vantorel
