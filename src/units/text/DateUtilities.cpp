#include "units/text/DateUtilities.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

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
