#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "units/fs/DirectoryWatcher.h"
#include "units/fs/SyncAttributes.h"
#include "engine/Tracker.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "support/ScriptedItemSource.h"
#include "support/TrackerFixture.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::ManualClock;
using test::TempDir;
namespace fs = std::filesystem;

class TrackerTest : public test::TrackerFixture {};

TEST_F(TrackerTest, ChangesUnderTheFolderReachTheQueueOnce) {
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.Start();
  ASSERT_TRUE(t.GetEventStream()->WaitUntilWatching(10));
  const std::string file = dir.Write("cloud/a.txt", "x");
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetQueueSize() == 1; }, 5));
  for (int i = 0; i < 10; ++i) t.QueueFile(file);  // reported ten times, queued once
  EXPECT_EQ(t.GetQueueSize(), 1);
  t.PollOnce();
  EXPECT_EQ(t.GetQueueSize(), 0);
}

TEST_F(TrackerTest, VeryLongAndOddPathsPassThroughWhole) {
  auto& t = MakeTracker();
  t.SetTransferLog(logFile);
  const std::string longPath = "/" + std::string(3999, 'p');
  const std::string oddPath = std::string("/odd/\xff\xfe\nname");
  t.QueueFile(longPath);
  t.QueueFile(oddPath);
  EXPECT_EQ(t.GetQueueSize(), 2);
  t.AddTransferFinishedEntry(longPath);
  t.AddTransferFinishedEntry(oddPath);
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{oddPath, longPath}));
  t.Shutdown();
  const PlistReadResult saved = ReadPropertyListFile(historyFile);
  ASSERT_EQ(saved.status, PlistReadResult::Status::Ok);
  EXPECT_EQ(*saved.value.AsArray(), (PlistValue::Array{PlistValue(oddPath), PlistValue(longPath)}));
  const auto log = ReadWholeFile(logFile);
  ASSERT_TRUE(log.has_value());
  EXPECT_EQ(log->substr(0, log->find('\n')).size(), 254u);  // the long entry, cut
}

TEST_F(TrackerTest, PathsArrivingDuringAScanAreParkedThenMerged) {
  auto& t = MakeTracker();
  std::mutex m;
  std::condition_variable cv;
  bool holding = false, release = false;
  // Another thread holds the queue as the poll thread does during a scan.
  std::thread scanner([&] {
    auto scanning = t.LockQueueForTesting();
    std::unique_lock lock(m);
    holding = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
  });
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return holding; });
  }
  // The main thread never waits for the lock: everything is parked.
  t.QueueFile("/x/1");
  t.QueueFile("/x/2");
  t.QueueFile("/x/1");
  EXPECT_EQ(t.GetPendingQueueSize(), 3);
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  scanner.join();
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetPendingQueueSize() == 0; }, 5));
  EXPECT_EQ(t.GetQueueSize(), 2);
}

TEST_F(TrackerTest, StartingTwiceLeavesOneStreamAndSetDirectoryFollowsStart) {
  const int before = InotifyInstances();
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  EXPECT_EQ(t.GetDirectory(), cloud);
  EXPECT_EQ(t.GetEventStream(), nullptr);  // nothing starts before Start
  t.Start();
  const int oneStream = InotifyInstances();
  EXPECT_GT(oneStream, before);
  t.Start();
  EXPECT_EQ(InotifyInstances(), oneStream);
  const std::string other = dir.MakeFolder("other");
  t.SetDirectory(other);
  EXPECT_EQ(t.GetWatchedFolders(), std::vector<std::string>{other});
  EXPECT_EQ(InotifyInstances(), oneStream);
  t.SetDirectory("~/relative");
  EXPECT_EQ(t.GetDirectory(), dir.path() + "/home/relative");
}

TEST_F(TrackerTest, AnEmptyOrRelativeFolderMeansNoFolderAndNoWatchAtAll) {
  const int before = InotifyInstances();
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.Start();
  CaptureDiagnostics diagnostics;
  t.SetDirectory("");
  EXPECT_EQ(t.GetDirectory(), "");
  EXPECT_EQ(t.GetEventStream(), nullptr);
  EXPECT_TRUE(t.GetWatchedFolders().empty());
  EXPECT_EQ(InotifyInstances(), before);
  t.SetDirectory("Documents");
  EXPECT_EQ(t.GetEventStream(), nullptr);
  EXPECT_EQ(diagnostics.Text(),
            "No folder to watch is stored; nothing is tracked until one is.\n"
            "The folder to watch \"Documents\" is not an absolute path; nothing is tracked until a folder is stored.\n");
  // A folder stored again is watched again.
  t.SetDirectory(cloud);
  EXPECT_EQ(t.GetWatchedFolders(), std::vector<std::string>{cloud});
}

TEST_F(TrackerTest, DocumentsAndDesktopAreWatchedExactlyWhenInTheStore) {
  const std::string documents = dir.MakeFolder("home/Documents");
  dir.MakeFolder("home/Desktop");
  ASSERT_EQ(::setxattr(documents.c_str(), kUbiquityItemAttribute, "1", 1, 0), 0);
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.Start();
  EXPECT_EQ(t.GetWatchedFolders(), (std::vector<std::string>{cloud, documents}));
}

TEST_F(TrackerTest, TheHistoryKeepsTheNewestWithinItsLimit) {
  settings.recentFilesLimit = 3;
  Apply();
  auto& t = MakeTracker();
  for (const char* p : {"a", "b", "c"}) t.AddTransferFinishedEntry(p);
  t.AddTransferFinishedEntry("d");
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{"d", "c", "b"}));
  const auto handedOut = t.GetRecentTransfers();
  t.AddTransferFinishedEntry("c");  // full, so "b" goes first, then the old "c"
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(handedOut, (std::vector<std::string>{"d", "c", "b"}));  // a copy
  t.AddTransferFinishedEntry("c");
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{"c", "d"}));

  settings.recentFilesLimit = 0;
  Apply();  // clamped to one entry, at once
  t.AddTransferFinishedEntry("e");
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{"e"}));
}

TEST_F(TrackerTest, TheHistorySurvivesARestartAndDropsVanishedItems) {
  const std::string kept = dir.Write("cloud/kept.txt", "x");
  const std::string gone = dir.Write("cloud/gone.txt", "x");
  const std::string odd = dir.Write(std::string("cloud/caf\xe9\nline.txt"), "x");  // not UTF-8, with a newline
  {
    auto& t = MakeTracker();
    t.AddTransferFinishedEntry(kept);
    t.AddTransferFinishedEntry(gone);
    t.AddTransferFinishedEntry(odd);
    t.Shutdown();  // an orderly quit saves the history
  }
  tracker.reset();
  fs::remove(gone);
  auto& again = MakeTracker();
  EXPECT_EQ(again.GetRecentTransfers(), (std::vector<std::string>{odd, kept}));
}

TEST_F(TrackerTest, AnUnreadableHistoryIsLeftAloneForTheRun) {
  for (const std::string& content : {std::string("not a plist"), SerializePropertyListXml(PlistValue(PlistValue::Array{PlistValue(1)}))}) {
    WriteFileAtomically(historyFile, content);
    CaptureDiagnostics diagnostics;
    auto& t = MakeTracker();
    EXPECT_FALSE(t.GetRecentTransfers().has_value());
    t.AddTransferFinishedEntry("/x");
    t.Shutdown();
    EXPECT_EQ(ReadWholeFile(historyFile), content);
    EXPECT_NE(diagnostics.Text().find(historyFile), std::string::npos);
    tracker.reset();
  }
}

TEST_F(TrackerTest, LogLinesAreRelativeToTheFolderAndCutAtWholeCharacters) {
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.SetTransferLog(logFile);
  t.AddTransferFinishedEntry(cloud + "/Docs/a.txt");
  t.AddTransferFinishedEntry(dir / "home/Documents/b.txt");
  std::string longName = cloud + "/";
  for (int i = 0; i < 200; ++i) longName += "\xc3\xa9";
  t.AddTransferFinishedEntry(longName);
  // A name with a newline is one line, which forges nothing.
  t.AddTransferFinishedEntry(cloud + "/evil\n[2026-01-01 00:00:00] forged.txt");
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[3].find("] /evil\\n[2026-01-01 00:00:00] forged.txt"), std::string::npos);
  EXPECT_EQ(lines[0].front(), '[');
  EXPECT_NE(lines[0].find("] /Docs/a.txt"), std::string::npos);
  EXPECT_NE(lines[1].find("] " + dir.path() + "/home/Documents/b.txt"), std::string::npos);
  EXPECT_LE(lines[2].size(), 254u);
  EXPECT_GE(lines[2].size(), 252u);
  EXPECT_EQ(lines[2].back(), '\xa9');  // the last whole character

  // The file first opened stays the log.
  t.SetTransferLog(dir / "other_log.txt");
  t.AddTransferFinishedEntry(cloud + "/c.txt");
  EXPECT_EQ(LogLines().size(), 5u);
  EXPECT_FALSE(fs::exists(dir / "other_log.txt"));

  settings.enableLogging = false;
  Apply();
  t.AddTransferFinishedEntry(cloud + "/d.txt");
  EXPECT_EQ(LogLines().size(), 5u);
}

TEST_F(TrackerTest, ALineAFullDiskCutsShortIsTakenBackWhole) {
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.SetTransferLog(logFile);
  t.AddTransferFinishedEntry(cloud + "/first.txt");
  const auto before = fs::file_size(logFile);
  // The disk "fills" a few bytes into the next line: a file-size limit, with
  // the signal it raises ignored, makes the write stop part-way.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = before + 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  CaptureDiagnostics diagnostics;
  t.AddTransferFinishedEntry(cloud + "/a rather long name that does not fit.txt");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(fs::file_size(logFile), before);  // no half line left
  EXPECT_NE(diagnostics.Text().find("Failed to write to the transfer log"), std::string::npos);
  // Room again: the next line is whole, on a line of its own.
  t.AddTransferFinishedEntry(cloud + "/after.txt");
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("] /after.txt"), std::string::npos);
}

TEST_F(TrackerTest, ALogThatCannotBeOpenedDropsEntriesUntilItCan) {
  auto& t = MakeTracker();
  const std::string folder = dir / "not-yet";
  t.SetTransferLog(folder + "/log.txt");
  t.AddTransferFinishedEntry("/lost.txt");
  fs::create_directory(folder);
  t.AddTransferFinishedEntry("/kept.txt");
  std::ifstream in(folder + "/log.txt");
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("/kept.txt"), std::string::npos);
  EXPECT_FALSE(std::getline(in, line));
}

TEST_F(TrackerTest, TheLogIsEmptiedAtItsSizeLimit) {
  auto& t = MakeTracker();
  t.SetTransferLog(logFile);
  CaptureDiagnostics diagnostics;
  settings.clearLogAfterSize = 25;
  Apply();
  t.AddLogEntry("entry");
  fs::resize_file(logFile, 26214399);  // just under 25 MiB stays
  t.PollOnce();
  EXPECT_EQ(fs::file_size(logFile), 26214399u);
  t.AddLogEntry("entry");
  fs::resize_file(logFile, 26214400);
  t.PollOnce();
  EXPECT_EQ(fs::file_size(logFile), 0u);
  EXPECT_EQ(diagnostics.Text(), "clearing log file...\n");
  t.AddLogEntry("after");  // lands at the start of the emptied file
  EXPECT_EQ(ReadWholeFile(logFile), "after\n");

  settings.clearLogAfterSize = 0;
  Apply();  // emptied after every pass with an entry
  t.PollOnce();
  EXPECT_EQ(fs::file_size(logFile), 0u);
}

TEST_F(TrackerTest, TheLogAndHistoryAreNeverWrittenThroughLinksNorWaitedForAsFifos) {
  ::alarm(60);  // a blocking open would otherwise hang here for good
  const std::string bashrc = dir.Write("home/.bashrc", "alias ls='ls -F'\n");
  fs::create_symlink(bashrc, logFile);
  CaptureDiagnostics diagnostics;
  {
    auto& t = MakeTracker();
    t.SetDirectory(cloud);
    t.SetTransferLog(logFile);
    t.AddTransferFinishedEntry(cloud + "/$(touch PWNED).txt");
    t.AddTransferFinishedEntry(cloud + "/b.txt");
    settings.clearLogAfterSize = 0;
    Apply();
    t.PollOnce();  // the limit reached: a link is not emptied either
    tracker.reset();
  }
  EXPECT_EQ(ReadWholeFile(bashrc), "alias ls='ls -F'\n");
  EXPECT_EQ(std::string(diagnostics.Text()).find("Failed to write to the transfer log " + logFile + ": " + logFile +
                                                  " is a symbolic link; it is left as it is; entries are dropped"),
            0u)
      << diagnostics.Text();

  // A FIFO as the log or the history: refused at once, never waited for.
  fs::remove(logFile);
  fs::remove(historyFile);
  ASSERT_EQ(::mkfifo(logFile.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(historyFile.c_str(), 0600), 0);
  CaptureDiagnostics again;
  auto& t = MakeTracker();
  EXPECT_FALSE(t.GetRecentTransfers().has_value());
  t.SetTransferLog(logFile);
  t.AddTransferFinishedEntry(cloud + "/c.txt");
  t.Shutdown();
  const std::string said = again.Text();
  EXPECT_NE(said.find("Cannot read the recent transfers list " + historyFile + " (it is a FIFO)"), std::string::npos)
      << said;
  EXPECT_NE(said.find(logFile + " is a FIFO"), std::string::npos) << said;
  EXPECT_TRUE(fs::is_fifo(historyFile));

  // A history path aimed at a device of endless bytes: one line, no history.
  settings.historyPath = "/dev/zero";
  Apply();
  tracker.reset();
  auto& third = MakeTracker();
  EXPECT_FALSE(third.GetRecentTransfers().has_value());
  ::alarm(0);
}

TEST_F(TrackerTest, ADeletedFolderEndsItsTransfersAtOnceAsVanished) {
  auto& t = MakeTracker();
  t.SetDelegate(&delegate);
  t.SetDirectory(cloud);
  settings.includePatterns = {"/cloud/"};
  Apply();
  settings.pollingMode = 1;
  Apply();  // 25 transfers examined a pass
  const AbsoluteTime lastBefore = 1000;
  t.SetLastTransferDate(lastBefore);
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) files.push_back(Item("big/sub" + std::to_string(i % 3) + "/f" + std::to_string(i)));
  const std::string other = Item("other.txt");
  t.Start();
  ASSERT_TRUE(t.GetEventStream()->WaitUntilWatching(10));
  for (const std::string& file : files) t.QueueFile(file);
  t.QueueFile(other);
  Pass();
  ASSERT_EQ(t.Snapshot().inProgress, 301);

  fs::remove_all(cloud + "/big");
  // Gone as soon as the watcher reports it: not 25 a pass.
  ASSERT_TRUE(loop.RunUntil([&] { return t.Snapshot().inProgress == 1; }, 10)) << t.Snapshot().inProgress;
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{other});
  // A folder moved out of the tree takes its transfers with it too.
  const std::string moved = Item("moved/inside.txt");
  t.QueueFile(moved);
  Pass();
  ASSERT_EQ(t.Snapshot().inProgress, 2);
  fs::rename(cloud + "/moved", dir / "outside");
  ASSERT_TRUE(loop.RunUntil([&] { return t.Snapshot().inProgress == 1; }, 10));
  // A file renamed while it uploads is the same transfer under its new
  // name: counted once, the old name gone.
  const int total = t.Snapshot().total;
  const std::string renamed = cloud + "/renamed.txt";
  fs::rename(other, renamed);
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetTransfers() == std::vector<std::string>{renamed}; }, 10));
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{renamed});
  EXPECT_EQ(t.Snapshot().total, total);

  fs::remove(renamed);
  ASSERT_TRUE(loop.RunUntil([&] { return t.Snapshot().inProgress == 0; }, 10));
  Pass();  // the batch ends: nothing completed, nothing transferred
  EXPECT_TRUE(t.Snapshot().finished);
  EXPECT_EQ(t.Snapshot().completed, 0);
  EXPECT_EQ(t.Snapshot().lastTransfer, lastBefore);
  EXPECT_EQ(t.GetRecentTransfers(), std::vector<std::string>{});
}

TEST_F(TrackerTest, ScanResultsPassTheTrackingRulesAndAPartialScanKeepsTheRest) {
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  settings.includePatterns = {"/cloud/"};
  Apply();
  settings.excludePatterns = {"\\.tmp$"};
  Apply();
  const std::string a = Item("a.txt"), b = Item("Docs/b.txt"), c = Item("Docs/c.txt");
  const std::string outside = dir.Write("outside/x.txt", "x");
  const std::string excluded = Item("Docs/x.tmp");
  EXPECT_EQ(t.TrackablePaths({a, outside, excluded, b}), (std::vector<std::string>{a, b}));

  t.SetExistingTransfers({a, b});
  t.SetExistingTransfers({c}, cloud + "/Docs/");  // b no longer pending there; a is elsewhere
  auto transfers = t.GetTransfers();
  std::sort(transfers.begin(), transfers.end());
  EXPECT_EQ(transfers, (std::vector<std::string>{c, a}));  // sorted: "Docs" before "a"
  EXPECT_EQ(t.Snapshot().total, 2);
  t.SetExistingTransfers({b});  // a scan of the whole folder replaces everything
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{b});
}

TEST_F(TrackerTest, IgnoredTransfersLeaveTheBatchNeverCompletedAndAreToldAtOnce) {
  auto& t = MakeTracker();
  const std::string upload = dir.Write("cloud/up.txt", "x");
  const std::string other = dir.Write("cloud/other.txt", "x");
  const std::string placeholder = cloud + "/.gone.txt.icloud";
  t.SetDelegate(&delegate);
  t.SetExistingTransfers({upload, other, placeholder});
  EXPECT_EQ(t.Snapshot().StatusCode(), 1);
  const std::size_t toldBefore = delegate.heard.size();
  t.RemoveTransfers({placeholder, upload, "/not/in/progress"});
  std::vector<std::string> left = t.GetTransfers();
  std::sort(left.begin(), left.end());  // a set: its order is the hash's
  EXPECT_EQ(left, (std::vector<std::string>{placeholder, other}));
  EXPECT_FALSE(t.IsTransferComplete(upload));  // never shown as done
  const TrackerSnapshot s = t.Snapshot();
  EXPECT_EQ(s.completed, 0);
  EXPECT_EQ(s.total, 2);  // the progress is of what is left: 0 of 2, not 1 of 3
  EXPECT_EQ(s.downloadsInProgress, 1);  // the placeholder's item is coming in
  EXPECT_EQ(s.inProgress, 2);
  ASSERT_TRUE(loop.RunUntil([&] { return delegate.heard.size() > toldBefore; }, 5));
  EXPECT_EQ(delegate.heard.back().inProgress, 2);
  EXPECT_EQ(delegate.heard.back().total, 2);
}

TEST_F(TrackerTest, ASnapshotsCountsAgreeWhileThePollThreadChangesThem) {
  auto scriptedSource = std::make_shared<test::ScriptedItemSource>();
  TICloudTracker::Options options;  // a real clock and a real poll thread
  options.source = scriptedSource;
  settings.includePatterns = {"/cloud/"};
  settings.pollingMode = 2;  // 200 a pass
  options.settings = settings;
  tracker = MakeRef<TICloudTracker>(options);
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) files.push_back(Item("f" + std::to_string(i)));
  for (const std::string& file : files) tracker->QueueFile(file);
  const auto started = std::chrono::steady_clock::now();
  while (tracker->Snapshot().inProgress < 300 && std::chrono::steady_clock::now() - started < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(tracker->Snapshot().inProgress, 300);
  // Another thread finishes the uploads bit by bit while this one reads.
  std::atomic<bool> done{false};
  std::thread client([&] {
    for (std::size_t i = 0; i < files.size(); ++i) {
      scriptedSource->SetUploaded(files[i]);
      if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    done = true;
  });
  int readings = 0, seenInProgress = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    const TrackerSnapshot s = tracker->Snapshot();
    ++readings;
    seenInProgress += s.inProgress > 0;
    ASSERT_LE(s.inProgress + s.completed, s.total) << "after " << readings << " readings";
    ASSERT_EQ(s.status == TrackerSnapshot::Status::Transferring, s.inProgress > 0);
    // (The batch's end then waits for the main loop, which this test holds.)
    if (done && s.inProgress == 0 && readings > 100) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  client.join();
  EXPECT_GT(seenInProgress, 0);
  EXPECT_EQ(tracker->Snapshot().inProgress, 0);
  tracker.reset();
}

TEST_F(TrackerTest, TeardownStopsASleepingPollThreadPromptly) {
  TICloudTracker::Options options;  // a real clock and a real poll thread
  options.settings = settings;  // the history kept in historyFile
  options.source = MakeAttributeItemSource();
  tracker = MakeRef<TICloudTracker>(options);
  tracker->AddTransferFinishedEntry("/from/memory");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread is asleep now
  const auto before = std::chrono::steady_clock::now();
  tracker.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  PlistReadResult saved = ReadPropertyListFile(historyFile);
  ASSERT_EQ(saved.status, PlistReadResult::Status::Ok);
  EXPECT_EQ(*saved.value.AsArray(), (PlistValue::Array{PlistValue("/from/memory")}));
}

TEST_F(TrackerTest, WatchingAFolderThatCannotBeWatchedSaysSo) {
  MainLoop::SetMain(nullptr);  // no loop to deliver on
  CaptureDiagnostics diagnostics;
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  t.Start();
  EXPECT_EQ(diagnostics.Text(), "Fatal: FSEventStreamCreate returned nil.\n");
  EXPECT_EQ(t.GetEventStream(), nullptr);
  t.Reload();  // does nothing without a stream
  EXPECT_EQ(t.GetEventStream(), nullptr);
}

}  // namespace
}  // namespace vantorel
