#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <set>

#include "units/fs/DirectoryWatcher.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/fs/OwnFiles.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;
namespace fs = std::filesystem;

class DirectoryWatcherTest : public ::testing::Test {
protected:
  void Watch(std::vector<std::string> roots, double latency = 0.05) {
    watcher = DirectoryWatcher::Create(
        roots, &loop,
        [this](const std::vector<std::string>& paths) {
          ++deliveries;
          for (const auto& p : paths) {
            reported.insert(p);
            ++reports[p];
          }
        },
        latency);
    ASSERT_TRUE(watcher);
    ASSERT_TRUE(watcher->WaitUntilWatching(10));
  }
  bool Sees(const std::string& path, double seconds = 5) {
    return loop.RunUntil([&] { return reported.count(path) != 0; }, seconds);
  }
  // Serves the loop for a while so that anything pending would arrive.
  void Settle(double seconds = 0.3) { loop.RunUntil([] { return false; }, seconds); }

  TempDir dir;
  PollMainLoop loop;
  std::unique_ptr<DirectoryWatcher> watcher;
  std::set<std::string> reported;
  std::map<std::string, int> reports;
  int deliveries = 0;
};

TEST_F(DirectoryWatcherTest, AFreshTreeIsReportedDownToItsFiles) {
  const std::string root = dir.MakeFolder("root");
  Watch({root});
  // One burst: the folders exist before their watches do.
  ASSERT_EQ(std::system(("mkdir -p '" + root + "/a/b/c' && touch '" + root + "/a/b/c/f'").c_str()), 0);
  EXPECT_TRUE(Sees(root + "/a/b/c/f"));
  EXPECT_TRUE(reported.count(root + "/a"));
  // And the new folders are watched from now on.
  dir.Write("root/a/b/later.txt", "x");
  EXPECT_TRUE(Sees(root + "/a/b/later.txt"));
}

TEST_F(DirectoryWatcherTest, FoldersMovedInAreWatchedAndFoldersMovedOutAreNot) {
  const std::string root = dir.MakeFolder("root");
  dir.Write("outside/incoming/old.txt", "x");
  dir.MakeFolder("root/leaving");
  Watch({root});

  fs::rename(dir / "outside/incoming", root + "/incoming");
  EXPECT_TRUE(Sees(root + "/incoming/old.txt"));  // what it held is reported
  dir.Write("root/incoming/new.txt", "x");
  EXPECT_TRUE(Sees(root + "/incoming/new.txt"));

  fs::rename(root + "/leaving", dir / "outside/left");
  EXPECT_TRUE(Sees(root + "/leaving"));
  Settle();
  dir.Write("outside/left/after.txt", "x");
  Settle();
  for (const auto& path : reported) EXPECT_EQ(path.find("after.txt"), std::string::npos) << path;
}

TEST_F(DirectoryWatcherTest, ARenamedFolderIsWatchedUnderItsNewName) {
  const std::string root = dir.MakeFolder("root");
  dir.MakeFolder("root/before/deep");
  Watch({root});
  fs::rename(root + "/before", root + "/after");
  EXPECT_TRUE(Sees(root + "/after"));
  dir.Write("root/after/deep/file.txt", "x");
  EXPECT_TRUE(Sees(root + "/after/deep/file.txt"));
}

TEST_F(DirectoryWatcherTest, TheRootsOwnRemovalIsReported) {
  const std::string root = dir.MakeFolder("root");
  Watch({root});
  fs::remove_all(root);
  EXPECT_TRUE(Sees(root));
}

TEST_F(DirectoryWatcherTest, ARootRemovedAndMadeAgainIsWatchedAgain) {
  const std::string root = dir.MakeFolder("root");
  Watch({root});
  CaptureDiagnostics diagnostics;
  fs::remove_all(root);
  EXPECT_TRUE(Sees(root));
  ASSERT_TRUE(loop.RunUntil([&] { return diagnostics.Text().find("is gone") != std::string::npos; }, 5));
  reported.clear();
  // Made again with something already in it, then written to.
  ASSERT_EQ(std::system(("mkdir -p '" + root + "/sub' && echo x > '" + root + "/sub/early.txt'").c_str()), 0);
  EXPECT_TRUE(Sees(root + "/sub/early.txt"));
  dir.Write("root/sub/later.txt", "x");
  EXPECT_TRUE(Sees(root + "/sub/later.txt"));
  EXPECT_EQ(diagnostics.Text(), "The watched folder " + root + " is gone; watching for it to come back.\n" +
                                    "The watched folder " + root + " is there again; watching it.\n");
}

TEST_F(DirectoryWatcherTest, ARootMissingAtLaunchIsWatchedOnceItAppears) {
  const std::string root = dir / "not/yet/root";
  const std::string file = dir / "file";
  dir.Write("file", "x");
  CaptureDiagnostics diagnostics;
  Watch({root, file});
  EXPECT_EQ(diagnostics.Text(), "The watched folder " + root + " does not exist; watching for it to appear.\n" +
                                    "The watched folder " + file +
                                    " is not a folder; watching for a folder to take its place.\n");
  fs::create_directories(root);
  EXPECT_TRUE(Sees(root));
  dir.Write("not/yet/root/a.txt", "x");
  EXPECT_TRUE(Sees(root + "/a.txt"));
  // A file given as a root is watched once a folder takes its place.
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_TRUE(Sees(file));
  dir.Write("file/b.txt", "x");
  EXPECT_TRUE(Sees(file + "/b.txt"));
}

TEST_F(DirectoryWatcherTest, ARootReplacedByALinkFollowsTheLinksCurrentTarget) {
  const std::string root = dir.MakeFolder("root");
  const std::string first = dir.MakeFolder("first"), second = dir.MakeFolder("second");
  Watch({root});
  fs::remove_all(root);
  ASSERT_EQ(::symlink(first.c_str(), root.c_str()), 0);
  ASSERT_TRUE(Sees(root));
  dir.Write("first/one.txt", "x");
  EXPECT_TRUE(Sees(root + "/one.txt"));
  // The link pointed elsewhere (replaced by rename, as ln -sfn does).
  ASSERT_EQ(::symlink(second.c_str(), (dir / "next").c_str()), 0);
  fs::rename(dir / "next", root);
  dir.Write("second/two.txt", "x");
  EXPECT_TRUE(Sees(root + "/two.txt"));
  dir.Write("first/stale.txt", "x");
  Settle();
  EXPECT_EQ(reported.count(root + "/stale.txt"), 0u);
}

TEST_F(DirectoryWatcherTest, AFolderMadeAndRenamedAtOnceIsWatched) {
  const std::string root = dir.MakeFolder("root");
  Watch({root});
  // The reader only sees the creation once the name is gone already.
  DirectoryWatcher::HoldReadersForTesting(true);
  dir.Write("root/.build-tmp/inside.txt", "x");
  fs::rename(root + "/.build-tmp", root + "/Package");
  DirectoryWatcher::HoldReadersForTesting(false);
  EXPECT_TRUE(Sees(root + "/Package/inside.txt"));
  dir.Write("root/Package/later.txt", "x");
  EXPECT_TRUE(Sees(root + "/Package/later.txt"));
}

TEST_F(DirectoryWatcherTest, AChangeIsOnItsWayUntilTheCallbackHasIt) {
  const std::string root = dir.MakeFolder("root");
  Watch({root});
  EXPECT_FALSE(watcher->HasChangesNotHandedOver());
  // Still in the kernel's queue: wait-idle must not call this idle.
  DirectoryWatcher::HoldReadersForTesting(true);
  const std::string file = dir.Write("root/report.txt", "draft");
  EXPECT_TRUE(watcher->HasChangesNotHandedOver());
  DirectoryWatcher::HoldReadersForTesting(false);
  // Never "nothing on the way" before the callback has the path.
  loop.RunUntil([&] { return reported.count(file) != 0 || !watcher->HasChangesNotHandedOver(); }, 5);
  EXPECT_TRUE(reported.count(file));
  Settle();
  EXPECT_FALSE(watcher->HasChangesNotHandedOver());
}

TEST_F(DirectoryWatcherTest, LinksAreNotFollowedAndOwnFilesAreLeftOut) {
  const std::string root = dir.MakeFolder("root");
  const std::string elsewhere = dir.MakeFolder("elsewhere");
  ASSERT_EQ(::symlink(elsewhere.c_str(), (root + "/link").c_str()), 0);
  const std::string own = root + "/own.log";
  RegisterOwnFile(own);
  Watch({root});
  dir.Write("elsewhere/hidden-by-link.txt", "x");
  dir.Write("root/own.log", "x");
  dir.Write("root/visible.txt", "x");
  EXPECT_TRUE(Sees(root + "/visible.txt"));
  Settle();
  UnregisterOwnFile(own);
  EXPECT_EQ(reported.count(own), 0u);
  for (const auto& path : reported) EXPECT_EQ(path.find("hidden-by-link"), std::string::npos) << path;
}

TEST_F(DirectoryWatcherTest, OwnFilesAreLeftOutHoweverTheirFolderIsSpelled) {
  const std::string real = dir.MakeFolder("real");
  const std::string link = dir / "link";
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  RegisterOwnFile(real + "/vantorel_log.txt");
  Watch({link + "/"});  // a trailing "/" is no part of the reported paths
  dir.Write("real/vantorel_log.txt", "x");
  dir.Write("real/.vantorel_log.txt.Ab12Cd", "x");  // an atomic replacement's temporary file
  dir.Write("real/visible.txt", "x");
  EXPECT_TRUE(Sees(link + "/visible.txt"));
  Settle();
  UnregisterOwnFile(real + "/vantorel_log.txt");
  for (const auto& path : reported) EXPECT_EQ(path.find("vantorel_log"), std::string::npos) << path;
}

TEST_F(DirectoryWatcherTest, FoldersBeyondThePathLimitAreSaidOnce) {
  const std::string root = dir.MakeFolder("root");
  // A chain of folders whose paths outgrow PATH_MAX, made one level at a
  // time relative to the last (as any program can).
  const std::string name(200, 'd');
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string path = root;
  std::string firstTooLong;
  for (int depth = 0; depth < 25; ++depth) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    path += "/" + name;
    if (firstTooLong.empty() && path.size() >= PATH_MAX) firstTooLong = path;
  }
  ::close(fd);
  CaptureDiagnostics diagnostics;
  Watch({root});
  Settle();
  const std::string said = diagnostics.Text();
  EXPECT_EQ(said, "Cannot watch folders whose path is longer than the system's limit of 4095 bytes; the first "
                  "skipped, with everything below it, is " + firstTooLong + "\n");
  watcher.reset();
  ASSERT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);  // rm walks by descriptor
}

TEST_F(DirectoryWatcherTest, ALimitOnFoldersIsKeptAndSaidOnce) {
  const std::string root = dir.MakeFolder("root");
  for (const char* folder : {"a", "b", "c", "d", "e"}) dir.MakeFolder(std::string("root/") + folder);
  CaptureDiagnostics diagnostics;
  watcher = DirectoryWatcher::Create({root}, &loop, [](const std::vector<std::string>&) {}, 0.05, nullptr, 3);
  ASSERT_TRUE(watcher && watcher->WaitUntilWatching(10));
  EXPECT_EQ(watcher->GetStatistics().watchedDirectories, 3u);
  dir.MakeFolder("root/f");
  Settle();
  EXPECT_EQ(watcher->GetStatistics().watchedDirectories, 3u);
  const std::string said = diagnostics.Text();
  EXPECT_EQ(said.rfind("Cannot watch more than 3 folders in all;", 0), 0u) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1);  // once
}

TEST_F(DirectoryWatcherTest, AttributeChangesAndRemovalsAreReported) {
  const std::string root = dir.MakeFolder("root");
  const std::string file = dir.Write("root/doc.txt", "x");
  Watch({root});
  ASSERT_EQ(::setxattr(file.c_str(), "user.ubiquity.uploaded", "1", 1, 0), 0);
  EXPECT_TRUE(Sees(file));
  reported.clear();
  fs::remove(file);
  EXPECT_TRUE(Sees(file));
}

TEST_F(DirectoryWatcherTest, ABurstIsGatheredIntoFewDeliveries) {
  const std::string root = dir.MakeFolder("root");
  Watch({root}, 0.5);
  for (int i = 0; i < 50; ++i) dir.Write("root/same.txt", std::to_string(i));
  for (int i = 0; i < 50; ++i) dir.Write("root/f" + std::to_string(i), "x");
  ASSERT_TRUE(loop.RunUntil([&] { return reported.size() == 51; }, 5));
  // The first change goes at once, the rest at the end of the window.
  EXPECT_LE(deliveries, 3);
  EXPECT_LE(reports[root + "/same.txt"], 2);
}

TEST_F(DirectoryWatcherTest, AnOverflowingQueueLosesNothing) {
  const std::string root = dir.MakeFolder("root");
  dir.Write("root/unchanged.txt", "old");
  // Old enough to fall outside the rescan window.
  const std::string unchanged = root + "/unchanged.txt";
  for (const char* folder : {"root/deleted", "root/leaving", "root/renamed"}) dir.MakeFolder(folder);
  Watch({root});
  ASSERT_EQ(watcher->GetStatistics().watchedDirectories, 4u);
  ::sleep(2);
  dir.Write("root/tick", "x");  // the last event read before the flood
  ASSERT_TRUE(Sees(root + "/tick"));
  CaptureDiagnostics diagnostics;
  DirectoryWatcher::HoldReadersForTesting(true);
  // Two or three events a file: enough to overflow a 16,384-event queue.
  for (int i = 0; i < 9000; ++i) dir.Write("root/burst" + std::to_string(i), "");
  // Lost with the overflow: a folder deleted, one moved out, one renamed.
  fs::remove_all(root + "/deleted");
  fs::rename(root + "/leaving", dir / "left");
  fs::rename(root + "/renamed", root + "/new-name");
  DirectoryWatcher::HoldReadersForTesting(false);
  // The rescan's batches arrive one after another: wait for all of them
  // (a slow, loaded machine takes a while), then nothing may be missing.
  const auto found = [&] {
    int count = 0;
    for (int i = 0; i < 9000; ++i) count += reported.count(root + "/burst" + std::to_string(i)) ? 1 : 0;
    return count;
  };
  loop.RunUntil([&] { return found() == 9000; }, 60);
  Settle();
  EXPECT_EQ(found(), 9000);
  EXPECT_EQ(reported.count(unchanged), 0u);
  EXPECT_EQ(watcher->GetStatistics().overflows, 1u);
  EXPECT_NE(diagnostics.Text().find("rescanning"), std::string::npos);
  // Only the root and the renamed folder are still watched, the latter under its new name.
  EXPECT_EQ(watcher->GetStatistics().watchedDirectories, 2u);
  reported.clear();
  dir.Write("left/outside.txt", "x");
  dir.Write("root/new-name/inside.txt", "x");
  EXPECT_TRUE(Sees(root + "/new-name/inside.txt"));
  Settle();
  for (const auto& path : reported) EXPECT_EQ(path.find("outside"), std::string::npos) << path;
}

}  // namespace
}  // namespace vantorel
