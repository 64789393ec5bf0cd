#include <gtest/gtest.h>

#include <algorithm>

#include <thread>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <functional>
#include <utility>

#include "units/fs/DirectoryWatcher.h"
#include "support/CaptureDiagnostics.h"
#include "support/TrackerFixture.h"
#include "units/fs/AtomicFile.h"
#include "units/prefs/PropertyListIO.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
namespace fs = std::filesystem;

// The passes' rules, with item state from a scripted source (the attribute
// source is tried end to end in TrackerTest and the end-to-end scripts).
class PollingTest : public test::TrackerFixture {
protected:
  void SetUp() override {
    TrackerFixture::SetUp();
    scripted = std::make_shared<test::ScriptedItemSource>();
  }
  TICloudTracker& Tracker() {
    auto& t = MakeTracker();
    t.SetDelegate(&delegate);
    t.SetDirectory(cloud);
    t.SetTransferLog(logFile);
    settings.includePatterns = {"/cloud/"};
    Apply();
    return t;
  }
};

TEST_F(PollingTest, ASourcesPushIsExaminedLikeAFileEventAndItsRootsAreWatched) {
  auto& t = Tracker();
  const std::string file = Item("queued-by-the-client.txt");  // there before watching: no event
  t.Start();
  ASSERT_TRUE(t.GetEventStream()->WaitUntilWatching(10));
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 0);
  // The client starts sending it: nothing on disk changes, no event comes.
  // (What it says of paths outside its folders is not taken.)
  scripted->PushChanged({"/etc/passwd", cloud + "/../outside.txt", file});
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetQueueSize() == 1; }, 5));
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{file});
  scripted->SetUploaded(file);
  scripted->PushChanged({file});
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetQueueSize() == 1; }, 5));
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 0);
  EXPECT_EQ(t.GetRecentTransfers(), std::vector<std::string>{file});

  const std::string other = dir.MakeFolder("client-root");
  scripted->PushRoots({"/", "/proc", other});  // never the whole file system
  ASSERT_TRUE(loop.RunUntil([&] { return t.GetWatchedFolders().size() == 2; }, 5));
  EXPECT_EQ(t.GetWatchedFolders(), (std::vector<std::string>{cloud, other}));
  // Every folder the client syncs is followed, whatever the include
  // patterns (only "/cloud/" here) say; the exclude patterns still apply.
  scripted->SetClientFolder(other);
  settings.excludePatterns = {"\\.tmp$"};
  Apply();
  const std::string notes = dir.Write("client-root/notes.txt", "x"), scratch = dir.Write("client-root/x.tmp", "x");
  for (const std::string& path : {notes, scratch}) scripted->Set(path, {.uploading = true});
  t.QueueFile(notes);
  t.QueueFile(scratch);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{notes});
  t.Shutdown();
  EXPECT_FALSE(scripted->IsPushing());
}

TEST_F(PollingTest, WhatFinishesInOnePassIsRecordedInTheOrderOfItsNames) {
  auto& t = Tracker();
  std::vector<std::string> files;
  for (const char* name : {"f338", "f328", "f378", "f1", "f20", "f2", "f400", "f39"}) {
    files.push_back(Item(std::string(name) + ".txt"));
    t.QueueFile(files.back());
  }
  Pass();
  ASSERT_EQ(t.Snapshot().inProgress, 8);
  for (const std::string& file : files) MarkUploaded(file);
  Pass();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(t.GetRecentTransfers(), files);  // newest first; one pass is one time, then by name
  std::vector<std::string> logged;
  for (const std::string& line : LogLines())
    if (line.find("========") == std::string::npos) logged.push_back(cloud + line.substr(line.find("] ") + 2));
  EXPECT_EQ(logged, files);
}

TEST_F(PollingTest, AnUploadBegunAndEndedBetweenTwoLooksIsOneOnceAndNeverADownload) {
  auto& t = Tracker();
  const std::string sent = Item("sent-between-looks.txt", true);
  const std::string old = Item("sent-long-ago.txt", true);  // looked at again for another reason
  fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string received = Item("received.txt", true);
  for (const std::string& path : {sent, old}) scripted->SetDirection(path, TransferDirection::Sending);
  scripted->SetDirection(received, TransferDirection::Receiving);
  for (const std::string& path : {sent, old, received}) t.QueueFile(path);
  Pass();
  EXPECT_EQ(t.Snapshot().completedDownloads, 1);
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{received, sent}));
  ASSERT_FALSE(delegate.heard.empty());  // a batch of its own, ended
  EXPECT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(delegate.heard.back().completed, 1);
  EXPECT_EQ(delegate.heard.back().total, 1);
  clock->Advance(120);  // past the echo of a completion: still the same content
  t.QueueFile(sent);
  Pass();
  Pass();
  int logged = 0;
  for (const std::string& line : LogLines()) logged += line.find("sent-between-looks") != std::string::npos;
  EXPECT_EQ(logged, 1);
}

TEST_F(PollingTest, OneUploadFromFirstSightToTheClearedBatch) {
  auto& t = Tracker();
  const std::string file = Item("report.txt");
  t.QueueFile(file);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{file});
  ASSERT_EQ(delegate.heard.size(), 1u);
  EXPECT_FALSE(delegate.heard[0].synchronous);  // 0 to 1: told, not waited for
  EXPECT_EQ(delegate.heard[0].status, 1);

  clock->Advance(3);
  Pass();  // still uploading: nothing to say
  EXPECT_EQ(delegate.heard.size(), 1u);

  MarkUploaded(file);
  t.QueueFile(file);
  Pass();
  ASSERT_EQ(delegate.heard.size(), 2u);
  const auto& done = delegate.heard[1];
  EXPECT_TRUE(done.synchronous);
  EXPECT_TRUE(done.finished);
  EXPECT_EQ(done.completed, 1);
  EXPECT_EQ(done.total, 1);
  EXPECT_EQ(done.status, 0);
  EXPECT_DOUBLE_EQ(done.elapsed, 3.0);
  EXPECT_EQ(t.Snapshot().lastTransfer, clock->Now());
  EXPECT_EQ(t.GetRecentTransfers(), std::vector<std::string>{file});
  const PlistReadResult history = ReadPropertyListFile(historyFile);
  ASSERT_EQ(history.status, PlistReadResult::Status::Ok);
  EXPECT_EQ(*history.value.AsArray(), PlistValue::Array{PlistValue(file)});
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("] /report.txt"), std::string::npos);
  EXPECT_NE(lines[1].find("] ======== 1 file was transferred ========"), std::string::npos);

  t.QueueFile(file);  // a late event of the agent's last mark
  Pass();  // the next pass clears the batch
  EXPECT_EQ(t.Snapshot().completedDownloads, 0);  // a completed upload is no received download
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_FALSE(t.Snapshot().finished);
  EXPECT_EQ(t.Snapshot().completed, 0);
  EXPECT_FALSE(t.IsTransferComplete(file));
  EXPECT_EQ(delegate.heard.size(), 2u);
}

TEST_F(PollingTest, ABatchEndsWhenTheLastTransferEndsHoweverItEnds) {
  auto& t = Tracker();
  const std::string a = Item("a.txt"), b = Item("b.txt");
  t.QueueFile(a);
  t.QueueFile(b);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 2);
  fs::remove(a);  // vanishes: leaves without counting as completed
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 1);
  MarkUploaded(b);
  t.QueueFile(b);
  Pass();
  ASSERT_FALSE(delegate.heard.empty());
  EXPECT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(delegate.heard.back().completed, 1);
  EXPECT_EQ(delegate.heard.back().total, 2);
  EXPECT_NE(LogLines().back().find("======== 1 file was transferred ========"), std::string::npos);
}

TEST_F(PollingTest, ADownloadIsTrackedThroughItsPlaceholder) {
  auto& t = Tracker();
  const std::string placeholder = Item(".report.pdf.icloud");  // hidden, yet it passes
  t.QueueFile(placeholder);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{placeholder});
  EXPECT_EQ(t.Snapshot().downloadsInProgress, 1);  // coming in, as the tray shows
  // Examining the placeholder never completes it, even once it is gone.
  fs::remove(placeholder);
  Pass();
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{placeholder});
  const std::string item = Item("report.pdf", true);
  t.QueueFile(item);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 0);
  EXPECT_EQ(t.Snapshot().downloadsInProgress, 0);
  // It arrived: a download received, never a transfer of the batch.
  EXPECT_FALSE(t.IsTransferComplete(item));
  EXPECT_EQ(t.Snapshot().completedDownloads, 1);
  EXPECT_EQ(t.Snapshot().total, 0);
  EXPECT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(t.GetRecentTransfers(), std::vector<std::string>{item});

  // A download the client has queued has no placeholder on disk yet: it is
  // one all the same, and never abandoned while the client waits for it.
  const std::string queued = cloud + "/queued.bin", itsPlaceholder = cloud + "/.queued.bin.icloud";
  scripted->Set(queued, {.downloading = true});
  scripted->Set(itsPlaceholder, {});
  t.QueueFile(itsPlaceholder);
  Pass();
  clock->Advance(3600);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{itsPlaceholder});
  EXPECT_EQ(t.Snapshot().downloadsInProgress, 1);
  Item("queued.bin", true);
  scripted->Set(queued, {.uploaded = true});
  t.QueueFile(queued);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 0);
  EXPECT_EQ(t.GetRecentTransfers(), (std::vector<std::string>{queued, item}));
}

TEST_F(PollingTest, PathsWaitingToBeExaminedAreToldApartFromNoTransfers) {
  auto& t = Tracker();
  EXPECT_FALSE(t.HasUnexaminedPaths());
  const std::string item = Item("waiting.txt");
  t.QueueFile(item);
  EXPECT_EQ(t.Snapshot().inProgress, 0);
  EXPECT_TRUE(t.HasUnexaminedPaths());  // no transfer yet, but not idle either
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 1);
  EXPECT_FALSE(t.HasUnexaminedPaths());
  {
    auto scanning = t.LockQueueForTesting();  // a scan runs: the answer cannot wait for it
    EXPECT_TRUE(t.HasUnexaminedPaths());
  }
  EXPECT_FALSE(t.HasUnexaminedPaths());
}

TEST_F(PollingTest, AClearedHistoryStaysClearedAfterTheNextBatch) {
  auto& t = Tracker();
  const std::string first = Item("first.txt");
  t.QueueFile(first);
  Pass();
  MarkUploaded(first);
  t.QueueFile(first);
  Pass();
  ASSERT_EQ(t.GetRecentTransfers(), std::vector<std::string>{first});
  ASSERT_TRUE(t.ClearRecentTransfers());
  EXPECT_EQ(t.GetRecentTransfers(), std::vector<std::string>{});  // on screen too
  EXPECT_EQ(*ReadPropertyListFile(historyFile).value.AsArray(), PlistValue::Array{});
  // The next batch writes its own entry, not the cleared ones back.
  const std::string second = Item("second.txt");
  t.QueueFile(second);
  Pass();
  MarkUploaded(second);
  t.QueueFile(second);
  Pass();
  EXPECT_EQ(*ReadPropertyListFile(historyFile).value.AsArray(), PlistValue::Array{PlistValue(second)});
}

namespace {
int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
}  // namespace

// Files may grow to `bytes` at most while it lives (a disk that is full
// there), with the signal that would end the process ignored.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST_F(PollingTest, FailingLogAndHistoryWritesAreToldOnceWhileTheyKeepFailing) {
  CaptureDiagnostics diagnostics;
  auto& t = MakeTracker();
  t.SetDelegate(&delegate);
  t.SetDirectory(cloud);
  t.SetTransferLog(logFile);
  settings.includePatterns = {"/cloud/"};
  Apply();
  const std::string before = std::string(65530, 'x') + "\n";
  { std::ofstream(logFile) << before; }
  // Each line would be cut after a few bytes: no space left for it.
  std::optional<FileSizeLimit> full(std::in_place, 65536);
  const std::string gone = dir / "gone";
  fs::create_directories(gone);
  settings.historyPath = gone + "/recent_transfers.plist";
  Apply();
  fs::remove(gone);  // the history's folder is no more
  const auto batch = [&](const std::string& name) {
    const std::string item = Item(name);
    t.QueueFile(item);
    Pass();
    MarkUploaded(item);
    t.QueueFile(item);
    Pass();
  };
  batch("one.txt");
  batch("two.txt");
  batch("three.txt");
  full.reset();
  const std::string text = diagnostics.Text();
  EXPECT_EQ(Occurrences(text, "Failed to write to the transfer log " + logFile + ": File too large"), 1) << text;
  EXPECT_EQ(Occurrences(text, "Failed to write recent transfers log to " + gone + "/recent_transfers.plist"), 1) << text;
  // The cut lines were taken back: the log holds whole lines only.
  EXPECT_EQ(ReadWholeFile(logFile), before);
  // Once the folder is back the next save goes through, and a new failure
  // after that is told again.
  fs::create_directories(gone);
  batch("four.txt");
  ASSERT_TRUE(fs::exists(gone + "/recent_transfers.plist"));
  fs::remove_all(gone);
  batch("five.txt");
  EXPECT_EQ(Occurrences(diagnostics.Text(), "Failed to write recent transfers log to "), 2);
}

TEST_F(PollingTest, ReceivedDownloadsGatherIntoABatchThatClosesAfterTheDelay) {
  auto& t = Tracker();
  settings.downloadBatchDelay = 15;
  Apply();
  for (int i = 1; i <= 3; ++i) {
    t.QueueFile(Item("d" + std::to_string(i) + ".txt", true));
    Pass();
    EXPECT_EQ(t.Snapshot().StatusCode(), 2);
    clock->Advance(2);
  }
  ASSERT_EQ(delegate.heard.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(delegate.heard[i].synchronous);
    EXPECT_EQ(delegate.heard[i].status, 2);
  }
  clock->Advance(10);  // 12 s after the last one: still open
  Pass();
  EXPECT_EQ(delegate.heard.size(), 3u);
  clock->Advance(4);
  Pass();
  ASSERT_EQ(delegate.heard.size(), 4u);
  const auto& closed = delegate.heard[3];
  EXPECT_TRUE(closed.finished);
  EXPECT_EQ(closed.previousDownloads, 3);
  EXPECT_DOUBLE_EQ(closed.elapsed, 0.0);
  EXPECT_EQ(t.Snapshot().previousCompletedDownloads, 0);  // back to 0 once told
  EXPECT_NE(LogLines().back().find("======== 3 files were downloaded ========"), std::string::npos);
  EXPECT_TRUE(t.Snapshot().lastTransfer);  // what arrived was a transfer too
  // The received items are in the history file as the batch closes, not
  // only at the next upload batch or at quitting.
  const PlistReadResult saved = ReadPropertyListFile(historyFile);
  ASSERT_EQ(saved.status, PlistReadResult::Status::Ok);
  EXPECT_EQ(saved.value.AsArray()->size(), 3u);
}

TEST_F(PollingTest, ADownloadDuringAnUploadWaitsForTheUploadToEnd) {
  auto& t = Tracker();
  settings.downloadBatchDelay = 15;
  Apply();
  const std::string upload = Item("up.txt");
  t.QueueFile(upload);
  Pass();
  t.QueueFile(Item("down.txt", true));
  Pass();
  EXPECT_EQ(t.Snapshot().completedDownloads, 1);
  EXPECT_EQ(t.Snapshot().StatusCode(), 1);
  clock->Advance(60);
  Pass();
  EXPECT_EQ(t.Snapshot().completedDownloads, 1);  // cannot close while uploading
  MarkUploaded(upload);
  t.QueueFile(upload);
  Pass();  // the upload batch finishes
  EXPECT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(t.Snapshot().StatusCode(), 2);
  // The download is not wiped with the upload batch: it closes as a batch
  // of its own, with its own line (it came more than the delay ago).
  Pass();
  EXPECT_EQ(t.Snapshot().completedDownloads, 0);
  EXPECT_EQ(delegate.heard.back().previousDownloads, 1);
  EXPECT_NE(LogLines().back().find("======== 1 file was downloaded ========"), std::string::npos);
}

TEST_F(PollingTest, AnItemArrivingUnderItsOwnPathReplacesItsPlaceholder) {
  auto& t = Tracker();
  const std::string placeholder = Item(".doc.pdf.icloud");
  t.QueueFile(placeholder);
  Pass();
  // The real file appears before it reads as uploaded: one transfer, now
  // held under the item's path.
  const std::string item = Item("doc.pdf");
  t.QueueFile(item);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{item});
  EXPECT_EQ(t.Snapshot().total, 1);
  fs::remove(placeholder);
  t.QueueFile(placeholder);
  MarkUploaded(item);
  t.QueueFile(item);
  Pass();
  EXPECT_EQ(t.Snapshot().StatusCode(), 0);
  ASSERT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(delegate.heard.back().completed, 1);
  EXPECT_EQ(delegate.heard.back().total, 1);
}

TEST_F(PollingTest, ADownloadWhosePlaceholderVanishedWithoutItsItemEnds) {
  auto& t = Tracker();
  const std::string kept = Item(".kept.pdf.icloud"), cancelled = Item(".gone.pdf.icloud");
  t.QueueFile(kept);
  t.QueueFile(cancelled);
  Pass();
  fs::remove(cancelled);
  fs::remove(kept);
  Pass();  // first seen gone
  dir.Write("cloud/.kept.pdf.icloud", "x");  // back again: still a download in progress
  clock->Advance(20);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 2);
  clock->Advance(11);
  Pass();  // gone for more than 30 s, and its item never came
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{kept});
  clock->Advance(60);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{kept});
  // The last one ending, however it ends, finishes the batch.
  fs::remove(kept);
  Pass();
  clock->Advance(31);
  Pass();
  EXPECT_EQ(t.Snapshot().StatusCode(), 0);
  ASSERT_TRUE(delegate.heard.back().finished);
  EXPECT_EQ(delegate.heard.back().completed, 0);
  EXPECT_EQ(delegate.heard.back().total, 2);
}

// A delegate that acts on the tracker while the poll thread waits for it.
class ActingDelegate : public test::RecordingDelegate {
public:
  std::function<void()> act;
  void trackerStatusChanged(TICloudTracker* tracker) override {
    RecordingDelegate::trackerStatusChanged(tracker);
    if (act) std::exchange(act, nullptr)();
  }
};

TEST_F(PollingTest, APassDecidesFromOneReadingOfTheCounts) {
  auto& t = Tracker();
  ActingDelegate acting;
  t.SetDelegate(&acting);
  const std::string found = Item("found.txt");
  // While the closing message of a download batch is handled, a rescan
  // hands over a transfer: the next pass must see the count change.
  settings.downloadBatchDelay = 1;
  Apply();
  t.QueueFile(Item("down.txt", true));
  Pass();
  clock->Advance(2);
  acting.act = [&] { t.SetExistingTransfers({found}); };
  Pass();
  loop.RunOnce(0);
  ASSERT_FALSE(acting.act);
  const std::size_t before = acting.heard.size();
  Pass();
  loop.RunOnce(0);
  ASSERT_EQ(acting.heard.size(), before + 1);
  EXPECT_EQ(acting.heard.back().status, 1);
  EXPECT_EQ(acting.heard.back().inProgress, 1);
}

TEST_F(PollingTest, TheQueueLeavesOutWhatIsNeverTracked) {
  auto& t = Tracker();
  const std::string empty = Item("empty.txt", false, 0);
  const std::string store = Item(".DS_Store");
  const std::string hidden = Item(".hidden-file");
  const std::string inBundle = Item("Tool.app/Contents/MacOS/tool");
  const std::string bundle = cloud + "/Tool.app";
  const std::string folder = dir.MakeFolder("cloud/plain");
  const std::string link = cloud + "/link";
  ASSERT_EQ(::symlink(Item("target.txt", true).c_str(), link.c_str()), 0);
  for (const auto& p : {empty, store, hidden, inBundle, bundle, folder, link}) t.QueueFile(p);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{bundle});  // the bundle itself is examined
  EXPECT_EQ(t.GetQueueSize(), 0);

  // Hidden files count once hidden files are not ignored.
  settings.ignoreHiddenFiles = false;
  Apply();
  t.QueueFile(hidden);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 2);

  // Without download tracking a placeholder is just another hidden file.
  settings.ignoreHiddenFiles = true;
  Apply();
  settings.trackIncomingDownloads = false;
  Apply();
  t.QueueFile(Item(".x.icloud"));
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 2);
}

TEST_F(PollingTest, IncludeAndExcludePatternsDecideWhatIsTracked) {
  auto& t = Tracker();
  settings.includePatterns = {"(unclosed", "/CLOUD/docs/"};
  Apply();
  settings.excludePatterns = {R"(\.tmp$)"};
  Apply();
  CaptureDiagnostics diagnostics;
  const std::string kept = Item("docs/kept.txt"), excluded = Item("docs/scratch.tmp"), elsewhere = Item("other.txt");
  for (const auto& p : {kept, excluded, elsewhere}) t.QueueFile(p);
  Pass();
  EXPECT_EQ(t.GetTransfers(), std::vector<std::string>{kept});
  // The bad pattern is reported once, not once per path.
  EXPECT_EQ(diagnostics.Text(),
            "Ignoring the filter pattern \"(unclosed\": it is not a valid regular expression.\n");

  // A pattern that would backtrack for hours counts as not matching, and
  // tracking goes on; it is reported once.
  settings.excludePatterns = {"(x+x+)+y"};
  Apply();
  const std::string slow = Item("docs/" + std::string(40, 'x')), slower = Item("docs/" + std::string(41, 'x'));
  t.QueueFile(slow);
  t.QueueFile(slower);
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 3);
  EXPECT_EQ(diagnostics.Text().find("\"(x+x+)+y\" takes too long"), diagnostics.Text().rfind("\"(x+x+)+y\" takes too long"));
  EXPECT_NE(diagnostics.Text().find("The filter pattern \"(x+x+)+y\" takes too long to match some paths"), std::string::npos);

  settings.includePatterns = {};  // (a list of the wrong type reads as none)
  Apply();  // no include pattern: nothing more is tracked
  t.QueueFile(Item("docs/new.txt"));
  Pass();
  EXPECT_EQ(t.Snapshot().inProgress, 3);
}

TEST_F(PollingTest, TheIntervalGrowsWhileNothingCompletesUpToItsCeiling) {
  auto& t = Tracker();
  std::vector<std::string> files;
  for (int i = 0; i < 30; ++i) files.push_back(Item("f" + std::to_string(i)));
  for (const auto& f : files) t.QueueFile(f);
  Pass();
  EXPECT_DOUBLE_EQ(t.GetPollInterval(), 1.25);
  Pass();
  EXPECT_DOUBLE_EQ(t.GetPollInterval(), 1.5);
  for (int i = 0; i < 100; ++i) Pass();
  EXPECT_DOUBLE_EQ(t.GetPollInterval(), 20.0);  // 11 to 50 in progress
  MarkUploaded(files[0]);
  t.QueueFile(files[0]);
  Pass();
  EXPECT_DOUBLE_EQ(t.GetPollInterval(), 1.0);
}

TEST_F(PollingTest, TheIntervalCeilingChangesExactlyAtItsTierEdges) {
  auto& t = Tracker();
  std::vector<std::string> files;
  for (int i = 0; i < 101; ++i) files.push_back(Item("f" + std::to_string(i)));
  const std::pair<int, double> tiers[] = {{10, 10}, {11, 20}, {50, 20}, {51, 30}, {100, 30}, {101, 60}};
  for (const auto& [count, ceiling] : tiers) {
    t.SetExistingTransfers(std::vector<std::string>(files.begin(), files.begin() + count));
    t.ResetInactivityTimer();
    for (int pass = 0; pass < 300 && t.GetPollInterval() < ceiling; ++pass) Pass();
    Pass();
    EXPECT_DOUBLE_EQ(t.GetPollInterval(), ceiling) << count << " in progress";
  }
}

TEST_F(PollingTest, TransfersAreExaminedInCyclesOfTheBatchSize) {
  settings.pollingMode = 1;
  Apply();
  auto& t = Tracker();
  EXPECT_EQ(t.GetSliceSize(), 25);
  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) files.push_back(Item("f" + std::to_string(i)));
  t.SetExistingTransfers(files);
  for (int i = 0; i < 3; ++i) Pass();  // 25, 25, 10: the cycle is complete
  for (const auto& f : files) MarkUploaded(f);
  Pass();  // a new cycle starts with a full batch
  EXPECT_EQ(t.Snapshot().completed, 25);
  Pass();
  EXPECT_EQ(t.Snapshot().completed, 50);
  Pass();
  EXPECT_EQ(t.Snapshot().completed, 60);
  EXPECT_TRUE(t.Snapshot().finished);
}

TEST_F(PollingTest, APauseDuringTheScanSkipsThatPassesBatch) {
  auto& t = Tracker();
  const std::string running = Item("running.txt");
  t.SetExistingTransfers({running});
  MarkUploaded(running);
  for (int i = 0; i < 3; ++i) t.QueueFile(Item("q" + std::to_string(i)));
  // Each look at the clock finds a second gone: the scan yields after its
  // first path, and a pause arrives during the yield.
  clock->SetAutoAdvance(1.1);
  clock->OnSleep([&] { t.Pause(); });
  Pass();
  clock->SetAutoAdvance(0);
  clock->OnSleep(nullptr);
  EXPECT_TRUE(t.IsPaused());
  EXPECT_EQ(t.GetQueueSize(), 2);  // the scan ended early
  EXPECT_FALSE(t.IsTransferComplete(running));  // and the batch was skipped
  t.Resume();
  Pass();
  EXPECT_EQ(t.GetQueueSize(), 0);
  // The skipped batch still counted as chosen in this cycle: the transfer
  // is examined when the next cycle begins.
  Pass();
  EXPECT_TRUE(t.IsTransferComplete(running));
}

TEST_F(PollingTest, APausedTrackerWaitsInFiveSecondSteps) {
  auto& t = Tracker();
  t.Pause();
  int sleeps = 0;
  clock->OnSleep([&] {
    if (++sleeps == 3) t.Resume();
  });
  // As the poll thread does (on the main thread a paused pass is skipped:
  // the resume could never arrive there).
  std::thread poll([&] { t.PollOnce(); });
  poll.join();
  EXPECT_EQ(clock->Sleeps(), (std::vector<double>{5.0, 5.0, 5.0}));
  t.Pause();
  clock->OnSleep(nullptr);
  t.PollOnce();
  EXPECT_EQ(clock->Sleeps().size(), 3u);
}

}  // namespace
}  // namespace vantorel
