#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/TempDir.h"
#include "units/fs/DirectorySize.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {
namespace {

using test::TempDir;

TEST(PathText, ComponentsAndExtensions) {
  EXPECT_EQ(lastPathComponentWithoutExtension("/a/b/report.final.txt"), "report.final");
  EXPECT_EQ(lastPathComponentWithoutExtension("/a/b/README"), "README");
  EXPECT_EQ(lastPathComponentWithoutExtension("/a/.profile"), ".profile");
  EXPECT_EQ(lastPathComponent("/a/b/"), "b");
  EXPECT_EQ(lastPathComponent("/"), "/");
  EXPECT_EQ(stringByDeletingLastPathComponent("/a/b"), "/a");
  EXPECT_EQ(stringByDeletingLastPathComponent("/a"), "/");
  EXPECT_EQ(stringByDeletingLastPathComponent("a"), "");
  EXPECT_EQ(pathExtension("/x/Thing.app/"), "app");
  EXPECT_EQ(pathExtension("/x/.hidden"), "");
  EXPECT_EQ(displayName("/nowhere/at all.txt"), "at all.txt");
}

TEST(PathPredicates, MissingItemsAnswerFalse) {
  TempDir dir;
  const std::string missing = dir / "missing";
  EXPECT_FALSE(doesFileExist(missing));
  EXPECT_FALSE(isHidden(missing));
  EXPECT_FALSE(isHidden(dir / ".missing"));
  EXPECT_FALSE(isDirectory(missing));
  EXPECT_FALSE(isPackage(dir / "missing.app"));
  EXPECT_FALSE(doesFileExist(""));
  EXPECT_FALSE(metaData(missing, kMetadataKeyDateAdded).has_value());
}

TEST(PathPredicates, HiddenByLeadingDotOrByTheFoldersHiddenList) {
  TempDir dir;
  const std::string dsStore = dir.Write(".DS_Store", "x");
  const std::string listed = dir.Write("listed.txt", "x");
  const std::string visible = dir.Write("visible.txt", "x");
  dir.Write(".hidden", "other\r\nlisted.txt\n");
  EXPECT_TRUE(isHidden(dsStore));
  EXPECT_TRUE(isHidden(listed));
  EXPECT_FALSE(isHidden(visible));
  EXPECT_FALSE(isHidden(dir / "listed"));  // whole names only, and it must exist
}

TEST(PathPredicates, PackagesAreDirectoriesWithAPackageExtension) {
  TempDir dir;
  const std::string app = dir.MakeFolder("Tool.APP");
  const std::string plain = dir.MakeFolder("plain");
  const std::string fileNamedLikeAPackage = dir.Write("notes.pages", "x");
  EXPECT_TRUE(isDirectory(app));
  EXPECT_TRUE(isPackage(app));  // letter case of the extension does not matter
  EXPECT_TRUE(isDirectory(plain));
  EXPECT_FALSE(isPackage(plain));
  EXPECT_FALSE(isPackage(fileNamedLikeAPackage));
}

TEST(PathPredicates, LinksAreFollowedWhereTheyShouldBe) {
  TempDir dir;
  const std::string folder = dir.MakeFolder("folder");
  const std::string link = dir / "link";
  const std::string dangling = dir / "dangling";
  ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
  ASSERT_EQ(::symlink((dir / "gone").c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(doesFileExist(link));
  EXPECT_TRUE(isDirectory(link));
  EXPECT_FALSE(doesFileExist(dangling));
  EXPECT_FALSE(isDirectory(dangling));
  EXPECT_TRUE(comparePaths(link, folder));
  EXPECT_FALSE(comparePaths(dangling, dangling));
}

TEST(PathPredicates, OddNamesAndLongPathsNeverCrash) {
  TempDir dir;
  const std::string latin1 = dir.Write(std::string("caf\xe9.txt"), "x");  // not UTF-8
  EXPECT_TRUE(doesFileExist(latin1));
  EXPECT_FALSE(isHidden(latin1));
  EXPECT_EQ(lastPathComponentWithoutExtension(latin1), std::string("caf\xe9"));
  const std::string tooLong = dir.path() + "/" + std::string(300, 'n') + "/" + std::string(1200, 'x');
  EXPECT_FALSE(doesFileExist(tooLong));
  EXPECT_FALSE(isHidden(tooLong));
  EXPECT_FALSE(isDirectory(tooLong));
  EXPECT_FALSE(comparePaths(tooLong, tooLong));
  EXPECT_EQ(FSGetDirectorySize(fsRef(tooLong)), 0u);
}

TEST(FileURL, ExpandsTheTildeAndMakesRelativePathsAbsolute) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  EXPECT_EQ(fileURL("~/Documents"), home + "/Documents");
  EXPECT_EQ(fileURL("~"), home);
  EXPECT_EQ(fileURL("/abs/path"), "/abs/path");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(fileURL("rel/x"), std::string(cwd) + "/rel/x");
  // A folder setting never comes to mean the current folder.
  EXPECT_EQ(folderSettingPath("/abs/path"), "/abs/path");
  EXPECT_EQ(folderSettingPath("~/Cloud"), home + "/Cloud");
  EXPECT_EQ(folderSettingPath("~"), home);
  EXPECT_EQ(folderSettingPath("/abs/path//"), "/abs/path");
  EXPECT_EQ(folderSettingPath("/"), "/");
  EXPECT_EQ(folderSettingPath(""), std::nullopt);
  EXPECT_EQ(folderSettingPath("Cloud"), std::nullopt);
  EXPECT_EQ(folderSettingPath("./Cloud"), std::nullopt);
  EXPECT_EQ(folderSettingPath("~no-such-user-here/Cloud"), std::nullopt);
}

TEST(ComparePaths, SameItemHoweverSpelledButNoTildeExpansion) {
  TempDir dir;
  const std::string folder = dir.MakeFolder("a/b");
  EXPECT_TRUE(comparePaths(folder, folder + "/"));
  EXPECT_TRUE(comparePaths(folder, dir / "a/./b/../b"));
  EXPECT_FALSE(comparePaths(folder, std::nullopt));
  EXPECT_FALSE(comparePaths(dir / "x", dir / "x"));  // missing items are equal to nothing
  EXPECT_FALSE(comparePaths(folder, dir.path()));
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  EXPECT_FALSE(comparePaths("~", home));
}

TEST(MetaData, DateAddedIsTheBirthOrChangeTime) {
  TempDir dir;
  const std::string file = dir.Write("new.txt", "x");
  const auto added = metaData(file, kMetadataKeyDateAdded);
  ASSERT_TRUE(added.has_value());
  EXPECT_NEAR(*added, CurrentAbsoluteTime(), 60);
  EXPECT_FALSE(metaData(file, "kMDItemFSSize").has_value());
}

class DirectorySizeTest : public ::testing::Test {
protected:
  TempDir dir;
};

TEST_F(DirectorySizeTest, SumsLogicalSizesBelowTheFolder) {
  const std::string empty = dir.MakeFolder("empty");
  EXPECT_EQ(FSGetDirectorySize(fsRef(empty)), 0u);

  const std::string tree = dir.MakeFolder("tree");
  dir.Write("tree/ten.bin", std::string(10, 'x'));
  dir.Write("tree/sub/five.bin", std::string(5, 'y'));
  EXPECT_EQ(FSGetDirectorySize(fsRef(tree)), 15u);

  // Packages are descended into; links count as themselves, never followed.
  dir.Write("tree/Thing.app/inside", std::string(7, 'z'));
  const std::string big = dir.Write("big.bin", std::string(1000, 'b'));
  ASSERT_EQ(::symlink(big.c_str(), (dir / "tree/link").c_str()), 0);
  // A link's own size is the length of the path it holds.
  EXPECT_EQ(FSGetDirectorySize(fsRef(tree)), 15u + 7u + big.size());
}

TEST_F(DirectorySizeTest, NotAFolderOrUnresolvableGivesZero) {
  const std::string file = dir.Write("file", "12345");
  EXPECT_EQ(FSGetDirectorySize(fsRef(file)), 0u);
  EXPECT_FALSE(fsRef(dir / "missing").valid);
  EXPECT_EQ(FSGetDirectorySize(fsRef(dir / "missing")), 0u);
  // A reference whose path now names another folder measures nothing.
  const std::string folder = dir.MakeFolder("moving");
  dir.Write("moving/f", "abc");
  const FSRef ref = fsRef(folder);
  std::filesystem::rename(folder, dir / "moved");
  dir.Write("moving/g", "abcdef");
  EXPECT_EQ(FSGetDirectorySize(ref), 0u);
}

TEST_F(DirectorySizeTest, TheCallbackSeesEachSubfolderAndCanCancel) {
  const std::string tree = dir.MakeFolder("tree");
  dir.Write("tree/a/one", "1");
  dir.Write("tree/b/two", "22");
  dir.Write("tree/c/three", "333");
  struct Seen {
    std::vector<std::string> names;
    bool cancelAfterFirst = false;
  } seen;
  const auto callback = [](void* user, const FSRef& child) {
    auto* s = static_cast<Seen*>(user);
    s->names.push_back(std::filesystem::path(child.path).filename().string());
    return s->cancelAfterFirst && s->names.size() > 1;
  };
  EXPECT_EQ(FSGetDirectorySize(fsRef(tree), callback, &seen), 6u);
  std::sort(seen.names.begin(), seen.names.end());
  EXPECT_EQ(seen.names, (std::vector<std::string>{"a", "b", "c"}));

  seen = Seen{{}, true};
  const std::uint64_t partial = FSGetDirectorySize(fsRef(tree), callback, &seen);
  EXPECT_EQ(seen.names.size(), 2u);  // the second subfolder cancelled the listing
  EXPECT_LT(partial, 6u);
}

TEST_F(DirectorySizeTest, AnUnreadableSubfolderOnlyMakesTheResultSmaller) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  const std::string tree = dir.MakeFolder("tree");
  dir.Write("tree/ok", "1234");
  dir.Write("tree/locked/secret", "123456789");
  ::chmod((dir / "tree/locked").c_str(), 0);
  EXPECT_EQ(FSGetDirectorySize(fsRef(tree)), 4u);
  ::chmod((dir / "tree/locked").c_str(), 0700);
}

}  // namespace
}  // namespace vantorel
