#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include "units/text/DateUtilities.h"
#include "units/text/HumanReadableBytes.h"
#include "units/text/ShortString.h"

namespace vantorel {
namespace {

// Formatting depends on the locale and time zone: pin both.
class Formatting : public ::testing::Test {
protected:
  void SetUp() override {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale::getUS(), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("UTC"));
  }
};

TEST_F(Formatting, BytesInDecimalUnits) {
  EXPECT_EQ(ConvertBytesToHumanReadable(0), "0 B");
  EXPECT_EQ(ConvertBytesToHumanReadable(512), "512 B");
  EXPECT_EQ(ConvertBytesToHumanReadable(999), "999 B");
  EXPECT_EQ(ConvertBytesToHumanReadable(1000), "1 kB");
  EXPECT_EQ(ConvertBytesToHumanReadable(1536), "1.54 kB");
  EXPECT_EQ(ConvertBytesToHumanReadable(2500000), "2.5 MB");
  EXPECT_EQ(ConvertBytesToHumanReadable(1125), "1.12 kB");  // half to even
  EXPECT_EQ(ConvertBytesToHumanReadable(1135), "1.14 kB");
  EXPECT_EQ(ConvertBytesToHumanReadable(1e24), "1 YB");
  EXPECT_EQ(ConvertBytesToHumanReadable(1e27), "1,000 YB");  // never beyond Y
}

TEST_F(Formatting, BytesFollowTheLocalesSeparators) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale::getGermany(), status);
  EXPECT_EQ(ConvertBytesToHumanReadable(1536), "1,54 kB");
}

constexpr AbsoluteTime kNow = 800000000.0;  // 2026-05-09 06:13:20 UTC, a fixed "now"

std::optional<std::string> Ago(double seconds, bool ago = false) {
  return relativeDateString(kNow - seconds, ago, kNow);
}

TEST_F(Formatting, RelativePhrasesBySecondsMinutesAndHours) {
  EXPECT_EQ(Ago(1), "one second");
  EXPECT_EQ(Ago(0), "0 seconds");
  EXPECT_EQ(Ago(59.5), "59 seconds");
  EXPECT_EQ(Ago(60), "1 minute");
  EXPECT_EQ(Ago(119), "1 minute");
  EXPECT_EQ(Ago(120), "2 minutes");
  EXPECT_EQ(Ago(44 * 60 + 59), "44 minutes");
  EXPECT_EQ(Ago(45 * 60), "1 hour");
  EXPECT_EQ(Ago(90 * 60), "1 hours");  // the hours component, never rounded up
  EXPECT_EQ(Ago(2 * 3600), "2 hours");
}

TEST_F(Formatting, ThePhraseHoldsUntilTheTimeGivenForItsNextChangeAndMovesThen) {
  for (const double elapsed : {0.0, 0.4, 30.0, 59.5, 60.0, 100.0, 119.0, 120.0, 2699.0, 2700.0, 5399.0, 5400.0,
                               7200.5, 86399.0, 86400.0, 100000.0, 172799.0, 172800.0, 400000.0}) {
    const AbsoluteTime date = kNow - elapsed;
    const double until = secondsUntilRelativeDateChanges(date, kNow);
    ASSERT_GT(until, 0) << elapsed;
    ASSERT_LE(until, 86400) << elapsed;
    const auto phrase = relativeDateString(date, true, kNow);
    EXPECT_EQ(relativeDateString(date, true, kNow + until * 0.999), phrase) << elapsed << " changed early";
    EXPECT_NE(relativeDateString(date, true, kNow + until + 0.001), phrase) << elapsed << " did not change";
  }
  EXPECT_DOUBLE_EQ(secondsUntilRelativeDateChanges(kNow + 5, kNow), 5);  // not yet: until it is
}

TEST_F(Formatting, RelativePhrasesByDaysMonthsAndYears) {
  EXPECT_EQ(Ago(25 * 3600), "yesterday");
  EXPECT_EQ(Ago(25 * 3600, true), "yesterday");
  EXPECT_EQ(Ago(10 * 86400, true), "10 days ago");
  EXPECT_EQ(Ago(45 * 86400), "1 month");
  EXPECT_EQ(Ago(100 * 86400), "3 months");
  EXPECT_EQ(Ago(362 * 86400), "one year");
  EXPECT_EQ(Ago(800 * 86400), "2 years");
  EXPECT_EQ(Ago(5, true), "5 seconds ago");
}

TEST_F(Formatting, AFutureDateHasNoPhrase) {
  EXPECT_EQ(Ago(-60), std::nullopt);
  EXPECT_EQ(Ago(-60, true), std::nullopt);
}

TEST_F(Formatting, ShortDateUsesTheLocalesShortStyles) {
  const std::string text = shortDateString(kNow, false);
  EXPECT_EQ(text, "5/9/26, 6:13\xe2\x80\xaf" "AM");  // ICU puts a narrow no-break space before AM
  const std::string today = shortDateString(CurrentAbsoluteTime(), true);
  EXPECT_EQ(today.rfind("today, ", 0), 0u) << today;
}

TEST_F(Formatting, ShortStringsCutAtWholeCharacters) {
  EXPECT_EQ(shortString(""), "");
  const std::string ascii(300, 'a');
  EXPECT_EQ(shortString(ascii), std::string(255, 'a'));
  // 127 two-byte letters fill 254 bytes; the 128th would straddle the limit.
  std::string accented;
  for (int i = 0; i < 130; ++i) accented += "\xc3\xa9";
  EXPECT_EQ(shortString(accented).size(), 254u);
  // A four-byte character ending exactly at the limit is kept.
  const std::string emoji = std::string(251, 'a') + "\xf0\x9f\x98\x80" + "tail";
  EXPECT_EQ(shortString(emoji), std::string(251, 'a') + "\xf0\x9f\x98\x80");
  EXPECT_EQ(TruncateUtf8(std::string(253, 'a') + "\xf0\x9f\x98\x80", 254), std::string(253, 'a'));
  // Bytes that are not UTF-8 are cut as bytes.
  EXPECT_EQ(TruncateUtf8(std::string(300, '\x80'), 255).size(), 255u);
}

}  // namespace
}  // namespace vantorel
