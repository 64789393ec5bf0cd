#include <gtest/gtest.h>

#include "units/text/RegularExpressionUtilities.h"

namespace vantorel {
namespace {

TEST(Patterns, FiltersMatchAnywhereIgnoringLetterCase) {
  EXPECT_TRUE(matchesWithExpression("/Users/a/TMP/file.txt", "tmp", 0, nullptr));
  EXPECT_TRUE(matchesWithExpression("/a/attmpt.txt", "tmp", 0, nullptr));
  EXPECT_FALSE(matchesWithExpression("/a/b.txt", "tmp", 0, nullptr));
  EXPECT_TRUE(matchesWithExpression("/home/u/Library/Mobile   Documents/com~apple~CloudDocs/x",
                                    R"(\/Mobile\s+Documents\/com~apple~CloudDocs)", 0, nullptr));
}

TEST(Patterns, CapturesAreFlatAcrossMatchesWithNullsForAbsentGroups) {
  CapturedTexts list;
  EXPECT_TRUE(matchesWithExpression("a1 b2 c3", R"((\w)(\d))", 0, &list));
  EXPECT_EQ(list, (CapturedTexts{"a", "1", "b", "2", "c", "3"}));
  EXPECT_TRUE(matchesWithExpression("ac", "a(b)?c", 0, &list));
  EXPECT_EQ(list, (CapturedTexts{std::nullopt}));
  EXPECT_TRUE(matchesWithExpression("xyz", "y", 0, &list));  // a match without groups counts
  EXPECT_TRUE(list.empty());
}

TEST(Patterns, ABadExpressionFindsNothingAndLeavesAnEmptyList) {
  CapturedTexts list{"stale"};
  EXPECT_FALSE(matchesWithExpression("(abc", "(abc", 0, &list));
  EXPECT_TRUE(list.empty());
  list = {"stale"};
  EXPECT_FALSE(matchesWithExpression("abc", "z(", &list));
  EXPECT_TRUE(list.empty());
}

TEST(Patterns, TheAnchoredFormReadsDiskUsageOutput) {
  CapturedTexts list;
  EXPECT_TRUE(matchesWithExpression("  1.2G\t/Users/a/Folder", R"(^\s*([a-zA-Z.0-9]+)\s+(.*))", &list));
  EXPECT_EQ(list, (CapturedTexts{"1.2G", "/Users/a/Folder"}));
  // Anchored: a match must begin at the start of the text.
  EXPECT_FALSE(matchesWithExpression("xab", "ab", &list));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(matchesWithExpression("ababx", "(ab)", &list));  // then where the last one ended
  EXPECT_EQ(list, (CapturedTexts{"ab", "ab"}));
}

TEST(Patterns, NonUtf8TextNeverCrashes) {
  CapturedTexts list;
  EXPECT_TRUE(matchesWithExpression(std::string("caf\xe9/x"), "(caf.)", 0, &list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(*list[0], "caf\xef\xbf\xbd");
}

TEST(RegularExpression, ARunawayPatternStopsAtItsLimitAndCountsAsNoMatch) {
  const std::string path = "/cloud/" + std::string(40, 'x');
  EXPECT_EQ(matchExpression(path, "(x+x+)+y"), MatchOutcome::TooCostly);
  EXPECT_FALSE(matchesWithExpression(path, "(x+x+)+y", 0, nullptr));
  EXPECT_EQ(matchExpression(path, "x{40}$"), MatchOutcome::Matched);
  EXPECT_EQ(matchExpression(path, "y"), MatchOutcome::NotMatched);
  EXPECT_EQ(matchExpression(path, "(unclosed"), MatchOutcome::Invalid);
}

}  // namespace
}  // namespace vantorel
