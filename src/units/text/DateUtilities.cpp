#include "units/text/DateUtilities.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace vantorel {

namespace {

UDate ToUDate(AbsoluteTime t) { return UnixTimeFromAbsolute(t) * 1000.0; }

struct Components {
  int years = 0, months = 0, days = 0, hours = 0, minutes = 0, seconds = 0;
};

// The interval from `from` to `to` broken into calendar components, each the
// remainder below the next larger one.
Components CalendarComponents(UDate from, UDate to) {
  Components c;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(status));
  if (U_FAILURE(status) || !calendar) return c;
  calendar->setTime(from, status);
  c.years = calendar->fieldDifference(to, UCAL_YEAR, status);
  c.months = calendar->fieldDifference(to, UCAL_MONTH, status);
  c.days = calendar->fieldDifference(to, UCAL_DATE, status);
  c.hours = calendar->fieldDifference(to, UCAL_HOUR_OF_DAY, status);
  c.minutes = calendar->fieldDifference(to, UCAL_MINUTE, status);
  c.seconds = calendar->fieldDifference(to, UCAL_SECOND, status);
  if (U_FAILURE(status)) return Components{};
  return c;
}

std::string Counted(int n, const char* unit) { return std::to_string(n) + " " + unit; }

}  // namespace

std::string shortDateString(AbsoluteTime date, bool relative) {
  const auto dateStyle = relative ? icu::DateFormat::kShortRelative : icu::DateFormat::kShort;
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createDateTimeInstance(dateStyle, icu::DateFormat::kShort, icu::Locale::getDefault()));
  if (!format) return {};
  icu::UnicodeString text;
  format->format(ToUDate(date), text);
  std::string utf8;
  text.toUTF8String(utf8);
  return utf8;
}

std::optional<AbsoluteTime> parseDateStamp(std::string_view text, bool zoneRequired) {
  const std::string copy(text);
  int year, month, day, hour, minute, second, consumed = 0;
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                  &consumed) != 6)
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60)
    return std::nullopt;
  std::string_view rest = text.substr(static_cast<std::size_t>(consumed));
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  int offsetSeconds = 0;
  if (rest.empty()) {
    if (zoneRequired) return std::nullopt;
  } else {
    const auto digit = [&rest](std::size_t i) { return rest[i] >= '0' && rest[i] <= '9'; };
    if (rest.size() != 5 || (rest[0] != '+' && rest[0] != '-') || !digit(1) || !digit(2) || !digit(3) || !digit(4))
      return std::nullopt;
    const int hh = (rest[1] - '0') * 10 + (rest[2] - '0');
    const int mm = (rest[3] - '0') * 10 + (rest[4] - '0');
    if (hh > 23 || mm > 59) return std::nullopt;
    offsetSeconds = (hh * 3600 + mm * 60) * (rest[0] == '-' ? -1 : 1);
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  const std::time_t utc = ::timegm(&tm);
  if (tm.tm_mday != day) return std::nullopt;  // 31 April and the like roll over
  return AbsoluteFromUnixTime(static_cast<double>(utc - offsetSeconds));
}

std::string iso8601String(AbsoluteTime date) {
  const auto seconds = static_cast<std::time_t>(std::floor(UnixTimeFromAbsolute(date)));
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

double secondsUntilRelativeDateChanges(AbsoluteTime date, AbsoluteTime now) {
  const double elapsed = now - date;
  if (elapsed < 0) return std::max(-elapsed, 0.001);
  // The unit the phrase counts in now, and the elapsed time at which the
  // phrase moves to the next range.
  double unit = 86400;
  double threshold = 0;
  if (elapsed < 60) {
    unit = 1;
    threshold = 60;
  } else if (elapsed < 2700) {
    unit = 60;
    threshold = 2700;
  } else if (elapsed < 5400) {  // "1 hour" throughout
    threshold = 5400;
  } else if (elapsed < 86400) {
    unit = 3600;
    threshold = 86400;
  } else if (elapsed < 172800) {
    threshold = 172800;
  }
  double until = unit - std::fmod(elapsed, unit);
  if (threshold > 0) until = std::min(until, threshold - elapsed);
  return std::clamp(until, 0.001, 86400.0);
}

std::optional<std::string> relativeDateString(AbsoluteTime date, bool ago, AbsoluteTime now) {
  const double elapsed = now - date;
  if (elapsed < 0) return std::nullopt;
  const Components c = CalendarComponents(ToUDate(date), ToUDate(now));

  std::string phrase;
  if (elapsed < 60)
    phrase = c.seconds == 1 ? "one second" : Counted(c.seconds, "seconds");
  else if (elapsed < 120)
    phrase = "1 minute";
  else if (elapsed < 2700)
    phrase = Counted(c.minutes, "minutes");
  else if (elapsed < 5400)
    phrase = "1 hour";
  else if (elapsed < 86400)
    phrase = Counted(c.hours, "hours");
  else if (elapsed < 172800)
    return std::string("yesterday");
  else if (elapsed < 2592000)
    phrase = Counted(c.days, "days");
  else if (elapsed < 31104000)
    phrase = c.months < 2 ? "1 month" : Counted(c.months, "months");
  else
    phrase = c.years < 2 ? "one year" : Counted(c.years, "years");

  if (ago) phrase += " ago";
  return phrase;
}

}  // namespace vantorel
