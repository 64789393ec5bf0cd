#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/TrackPathUtilities.h"
#include "support/TempDir.h"

namespace vantorel {
namespace {

using test::TempDir;

TEST(PathPredicates, PackagedMeansSomeFolderAboveIsAPackage) {
  TempDir dir;
  const std::string inApp = dir.Write("Tool.app/Contents/MacOS/tool", "x");
  const std::string app = dir / "Tool.app";
  EXPECT_TRUE(isFilePackaged(inApp));
  EXPECT_FALSE(isFilePackaged(app));  // the item itself is not tested
  const std::string nested = dir.Write("Outer.bundle/Inner.app/file", "x");
  EXPECT_TRUE(isFilePackaged(dir / "Outer.bundle/Inner.app"));
  EXPECT_TRUE(isFilePackaged(nested));
  // A plain file named like a package does not make its neighbours packaged.
  dir.Write("fake.app", "x");
  EXPECT_FALSE(isFilePackaged(dir / "fake.app/child"));

  EXPECT_TRUE(isImplicitlyPackaged("/x/Kit.framework/Versions/A/Headers/k.h"));
  EXPECT_FALSE(isImplicitlyPackaged("/x/Thing.Bundle/file"));  // letter case matters here
  EXPECT_FALSE(isImplicitlyPackaged("/x/Kit.framework"));
  EXPECT_FALSE(isImplicitlyPackaged("relative"));
}

TEST(PathPredicates, SizeAndLinksOfTheItemItself) {
  TempDir dir;
  const std::string empty = dir.Write("empty", "");
  const std::string full = dir.Write("full", "abc");
  const std::string link = dir / "link";
  ASSERT_EQ(::symlink(full.c_str(), link.c_str()), 0);
  EXPECT_FALSE(doesFileContainBytes(empty));
  EXPECT_TRUE(doesFileContainBytes(full));
  EXPECT_FALSE(doesFileContainBytes(dir / "missing"));
  EXPECT_TRUE(isSymbolicLink(link));
  EXPECT_FALSE(isSymbolicLink(full));
  EXPECT_FALSE(isSymbolicLink(dir / "missing"));
}

}  // namespace
}  // namespace vantorel
