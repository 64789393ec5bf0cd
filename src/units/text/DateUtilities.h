#pragma once
// Dates as text: a short stamp in the user's locale, and an English phrase for
// how long ago something happened.

#include <optional>
#include <string>
#include <string_view>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

// The locale's short date followed by its short time, in the user's time zone.
// With `relative`, the date part is worded relatively ("Today", "Yesterday")
// where the locale has words for it.
std::string shortDateString(AbsoluteTime date, bool relative);

// "yyyy-MM-dd HH:mm:ss Z", Z a numeric zone such as "+0100" (without one,
// UTC, unless `zoneRequired`). Nothing for any other text, or for a day the
// month does not have.
std::optional<AbsoluteTime> parseDateStamp(std::string_view text, bool zoneRequired);

// ISO 8601 in UTC, to the second: "2026-12-08T13:20:01Z".
std::string iso8601String(AbsoluteTime date);

// "one second", "%d seconds", "1 minute", "%d minutes", "1 hour", "%d hours",
// "yesterday", "%d days", "1 month", "%d months", "one year" or "%d years" for
// the time from `date` to `now`, with " ago" appended when `ago` is set (never
// to "yesterday"). The numbers are calendar components of the interval, not
// rounded quotients. Nothing for a date after `now`.
std::optional<std::string> relativeDateString(AbsoluteTime date, bool ago, AbsoluteTime now);
inline std::optional<std::string> relativeDateString(AbsoluteTime date, bool ago) {
  return relativeDateString(date, ago, CurrentAbsoluteTime());
}
// Seconds from `now` until relativeDateString's wording for `date` may next
// change (the next whole second, minute, hour or day of the interval, or a
// threshold such as "yesterday"); never more than a day, never less than a
// millisecond. A date after `now`: the time until it is reached.
double secondsUntilRelativeDateChanges(AbsoluteTime date, AbsoluteTime now);

}  // namespace vantorel
