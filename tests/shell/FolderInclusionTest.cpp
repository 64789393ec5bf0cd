// A chosen folder that no include pattern matches gets one pattern for
// exactly its tree.

#include <gtest/gtest.h>

#include "shell/FolderInclusion.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/PollMainLoop.h"
#include "units/text/RegularExpressionUtilities.h"

namespace vantorel {
namespace {

bool Matches(const std::string& pattern, const std::string& path) {
  return matchExpression(path, pattern) == MatchOutcome::Matched;
}

TEST(FolderInclusion, ThePatternTakesInTheTreeAndNothingBeside) {
  const std::string folder = "/home/ann/Cloud (work) [1].v2+$x";
  const std::string pattern = IncludePatternForFolder(folder + "/");
  EXPECT_TRUE(Matches(pattern, folder));
  EXPECT_TRUE(Matches(pattern, folder + "/a/b.txt"));
  EXPECT_TRUE(Matches(pattern, folder + "/.~tmp"));
  for (const std::string& other : std::vector<std::string>{folder + "2/a.txt", "/home/ann/cloud (work) [1].v2+$x/a.txt",
                                  "/home/ann/Cloud (work) [1]xv2+$x/a.txt", "/old" + folder + "/a.txt", "/home/ann"})
    EXPECT_FALSE(Matches(pattern, other)) << other;
}

TEST(FolderInclusion, AChosenFolderIsAddedOnceAndOnlyWhenNothingMatchedIt) {
  test::TempDir dir;
  PollMainLoop loop;
  TUserDefaults prefs(dir / "prefs.plist", &loop);
  prefs.SetStringArray(kPreferenceKeyIncludePatterns, {R"(\/Mobile\s+Documents\/com~apple~CloudDocs)"});
  test::CaptureDiagnostics diagnostics;
  EXPECT_FALSE(IncludeChosenFolder(prefs, "/home/ann/Library/Mobile Documents/com~apple~CloudDocs"));
  EXPECT_TRUE(IncludeChosenFolder(prefs, "/home/ann/Nextcloud"));
  EXPECT_FALSE(IncludeChosenFolder(prefs, "/home/ann/Nextcloud/"));  // spelled otherwise
  EXPECT_FALSE(IncludeChosenFolder(prefs, "/home/ann/Nextcloud/Photos"));  // already inside
  EXPECT_EQ(prefs.GetStringArray(kPreferenceKeyIncludePatterns)->size(), 2u);
  EXPECT_TRUE(FolderIsIncluded(prefs, "/home/ann/Nextcloud"));
  EXPECT_EQ(diagnostics.Text(),
            "Added the include pattern (?-i)^/home/ann/Nextcloud(/|$) so that what changes in /home/ann/Nextcloud "
            "is tracked.\n");

  // A path whose pattern the matcher would cut is said, and nothing stored.
  const std::string deep = "/" + std::string(300, 'd');
  EXPECT_FALSE(IncludeChosenFolder(prefs, deep));
  EXPECT_EQ(prefs.GetStringArray(kPreferenceKeyIncludePatterns)->size(), 2u);
  EXPECT_NE(diagnostics.Text().find("too long"), std::string::npos);
}

}  // namespace
}  // namespace vantorel
