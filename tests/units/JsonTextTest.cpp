#include <gtest/gtest.h>

#include "units/text/DateUtilities.h"
#include "units/text/JsonText.h"

namespace vantorel {
namespace {

TEST(JsonText, EveryTextBecomesValidJson) {
  EXPECT_EQ(JsonQuoted("plain /path/file.txt"), "\"plain /path/file.txt\"");
  EXPECT_EQ(JsonQuoted("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
  EXPECT_EQ(JsonQuoted("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"");
  // Not UTF-8: a lone byte, a cut sequence, an overlong form, a surrogate.
  EXPECT_EQ(JsonQuoted("caf\xE9"), "\"caf\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("\xE2\x82"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonQuoted("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(JsonText, DatesInIso8601) {
  EXPECT_EQ(iso8601String(*parseDateStamp("2026-12-08 14:20:01 +0100", true)), "2026-12-08T13:20:01Z");
}

}  // namespace
}  // namespace vantorel
