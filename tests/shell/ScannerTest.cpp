#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>

#include "units/fs/SyncAttributes.h"
#include "shell/RecordingFace.h"
#include "shell/Scanner.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;

class RecordingDelegate : public TScannerDelegate {
public:
  void scannerWillStart() override { ++started; }
  void scannerDidStop(const TScanner&, const std::vector<std::string>& t, bool canceled) override {
    found = t;
    userCanceled = canceled;
    ++stopped;
  }
  int started = 0, stopped = 0;
  std::vector<std::string> found;
  bool userCanceled = false;
};

class ScannerTest : public ::testing::Test {
protected:
  void SetUp() override {
    savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", dir.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist"));
    PopulateDefaultPreferences(NSPrefs());
    root = dir.MakeFolder("cloud");
    NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, root);
  }
  void TearDown() override {
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::string Pending(const std::string& name, std::size_t bytes = 1) { return dir.Write(name, std::string(bytes, 'x')); }
  std::string Uploaded(const std::string& name) {
    const std::string path = Pending(name);
    ::setxattr(path.c_str(), kUbiquityUploadedAttribute, "1", 1, 0);
    return path;
  }
  void RunToEnd() { ASSERT_TRUE(loop.RunUntil([&] { return delegate.stopped == 1; }, 20)); }

  TempDir dir;
  PollMainLoop loop;
  test::RecordingFace face;
  RecordingDelegate delegate;
  std::string savedHome;
  std::string root;
};

TEST_F(ScannerTest, FindsWhatWaitsToBeUploadedByTheRules) {
  const std::string pending = Pending("cloud/a/pending.txt");
  Uploaded("cloud/a/done.txt");
  Pending("cloud/a/empty.txt", 0);
  Pending("cloud/.hidden.txt");
  const std::string package = dir.MakeFolder("cloud/Report.pages");
  Pending("cloud/Report.pages/inside.xml");  // the package counts once, never entered
  const std::string target = Pending("outside/target.txt");
  ASSERT_EQ(::symlink(target.c_str(), (root + "/link.txt").c_str()), 0);
  const std::string documents = dir.MakeFolder("Documents");
  ::setxattr(documents.c_str(), kUbiquityItemAttribute, "1", 1, 0);
  const std::string inDocuments = Pending("Documents/notes.txt");
  Pending("Desktop/not-in-the-store.txt");

  CaptureDiagnostics diagnostics;
  SetVerbose(true);  // the walk's lines are for --verbose
  auto scanner = PerformRescan(false, &delegate, &face);
  ASSERT_TRUE(scanner);
  RunToEnd();
  SetVerbose(false);
  EXPECT_EQ(delegate.started, 1);
  EXPECT_FALSE(delegate.userCanceled);
  std::vector<std::string> found = delegate.found;
  EXPECT_EQ(found.back(), inDocuments);  // Documents come after the folder
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{inDocuments, package, pending}));
  EXPECT_EQ(face.scannerResults.back(), "Found 3 transfers.");
  EXPECT_EQ(face.scannersOpened, 1);
  EXPECT_EQ(face.scannersClosed, 1);
  const std::string said = diagnostics.Text();
  EXPECT_EQ(said.find("icloud folder: " + root + "\nstart scanning\nscan " + root + "\n"), 0u) << said;
  EXPECT_NE(said.find("done scanning\nstop scanner\nscanner will close\n"), std::string::npos);

  // Links are followed once the preference allows them.
  NSPrefs().SetBool(kPreferenceKeyIgnoreSymbolicLinks, false);
  delegate = RecordingDelegate{};
  PerformRescan(false, &delegate, &face);
  RunToEnd();
  EXPECT_EQ(delegate.found.size(), 4u);
}

// A message per item found kept the window's thread redrawing the count
// tens of thousands of times: it is told a few times a second and at the end.
TEST(FoundTransfersLines, TenPathsAndACountUnlessVerbose) {
  std::vector<std::string> paths;
  for (int i = 0; i < 2000; ++i) paths.push_back("/c/f" + std::to_string(i));
  const auto lines = FoundTransfersLines(paths, false);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[9], "/c/f9");
  EXPECT_EQ(lines[10], "\u2026 and 1,990 more; --verbose lists them all");
  EXPECT_EQ(FoundTransfersLines(paths, true).size(), 2000u);
  EXPECT_EQ(FoundTransfersLines({"/c/a\nb"}, false), std::vector<std::string>{"/c/a\\nb"});  // one line each
}

TEST_F(ScannerTest, TheCountIsToldAtAPaceAndAlwaysAtTheEnd) {
  for (int i = 0; i < 2000; ++i) Pending("cloud/f" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".dat");
  PerformRescan(false, &delegate, &face);
  RunToEnd();
  ASSERT_EQ(delegate.found.size(), 2000u);
  ASSERT_FALSE(face.scannerResults.empty());
  EXPECT_EQ(face.scannerResults.front(), "Found 1 transfers.") << "the first is said at once";
  EXPECT_EQ(face.scannerResults.back(), "Found 2000 transfers.");
  EXPECT_LT(face.scannerResults.size(), 50u);
}

TEST_F(ScannerTest, LinksBackUpTheTreeAreNeverWalkedTwice) {
  NSPrefs().SetBool(kPreferenceKeyIgnoreSymbolicLinks, false);
  const std::string pending = Pending("cloud/d/pending.txt");
  dir.MakeFolder("cloud/d/e");
  ASSERT_EQ(::symlink("..", (root + "/d/up").c_str()), 0);       // a loop
  ASSERT_EQ(::symlink("../..", (root + "/d/e/top").c_str()), 0);  // another way round
  ASSERT_EQ(::symlink("pending.txt", (root + "/d/again.txt").c_str()), 0);
  PerformRescan(false, &delegate, &face);
  RunToEnd();
  // One file, reported once, by whichever path reached it first.
  ASSERT_EQ(delegate.found.size(), 1u);
  EXPECT_TRUE(delegate.found[0] == pending || delegate.found[0] == root + "/d/again.txt") << delegate.found[0];
  EXPECT_EQ(face.scannerResults.back(), "Found 1 transfers.");
}

TEST_F(ScannerTest, ACancelledScanStopsEarlyAndSaysSo) {
  for (int i = 0; i < 20; ++i) Pending("cloud/f" + std::to_string(i));
  auto scanner = TScanner::ScanDirectory(root, &delegate, &face);
  // The window's Cancel reaches the scan it belongs to through its handle;
  // before the walk has begun, it ends after the first entry.
  ASSERT_EQ(face.lastScanner, scanner.get());
  face.lastScanner->Cancel();
  RunToEnd();
  EXPECT_TRUE(delegate.userCanceled);
  EXPECT_LE(delegate.found.size(), 1u);
}

TEST_F(ScannerTest, ADismissedPanelScansNothing) {
  EXPECT_FALSE(PerformRescan(true, &delegate, &face));
  ASSERT_EQ(face.panels.size(), 1u);
  EXPECT_EQ(face.panels[0].title, "Scan For Transfers");
  EXPECT_EQ(face.panels[0].prompt, "Scan");
  EXPECT_EQ(delegate.started, 0);
  const std::string chosen = dir.MakeFolder("chosen");
  const std::string pending = Pending("chosen/x.txt");
  face.folderAnswers = {chosen};
  ASSERT_TRUE(PerformRescan(true, &delegate, &face));
  RunToEnd();
  EXPECT_EQ(delegate.found, std::vector<std::string>{pending});
}

}  // namespace
}  // namespace vantorel
