#include <gtest/gtest.h>

#include "units/fs/SyncAttributes.h"
#include "shell/ShutdownGuard.h"
#include "shell/StatusLine.h"
#include "support/TrackerFixture.h"

namespace vantorel {
namespace {

class StatusLineTest : public test::TrackerFixture {};

TEST_F(StatusLineTest, SaysWhatTheTrackerIsDoing) {
  auto& t = MakeTracker();
  const AbsoluteTime now = clock->Now();
  EXPECT_EQ(StatusLineText(t, std::nullopt, now), "No files are being transferred.");
  EXPECT_EQ(StatusLineText(t, now - 600, now), "Last transfer 10 minutes ago.");

  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) files.push_back(Item("f" + std::to_string(i)));
  t.SetExistingTransfers({files[0]});
  EXPECT_EQ(StatusLineText(t, now - 600, now), "1 file is being transferred...");
  t.SetExistingTransfers(files);
  MarkUploaded(files[0]);
  t.PollOnce();  // one of four completes: three in progress, 25%
  EXPECT_EQ(StatusLineText(t, std::nullopt, now), "3 files are being transferred (25%)...");
}

TEST_F(StatusLineTest, TheTooltipTellsHowMuchOfTheBatchIsDoneWhereTheSourceKnows) {
  scripted = std::make_shared<test::ScriptedItemSource>();
  auto& t = MakeTracker();
  const AbsoluteTime now = clock->Now();
  const std::string a = Item("a"), b = Item("b");
  scripted->Set(a, {.uploading = true, .percent = 53.0});
  scripted->Set(b, {.uploading = true});
  t.SetExistingTransfers({a});
  EXPECT_DOUBLE_EQ(t.Snapshot().inProgressDone, 0.53);
  EXPECT_EQ(StatusToolTipText(t.Snapshot(), now), "1 file is being transferred...\n53% of this batch is done.");
  t.SetExistingTransfers({a, b});  // 0.53 of two files: 26.5, to the even 26
  EXPECT_EQ(StatusToolTipText(t.Snapshot(), now),
            "2 files are being transferred (0%)...\n26% of this batch is done.");
  scripted->Set(a, {.uploading = true});
  EXPECT_EQ(StatusToolTipText(t.Snapshot(), now), "2 files are being transferred (0%)...");  // none known
}

TEST_F(StatusLineTest, APausedClientComesFirst) {
  TrackerSnapshot s;
  const AbsoluteTime now = clock->Now();
  s.syncingPaused = true;
  EXPECT_EQ(StatusLineText(s, now), "Syncing is paused.");
  s.inProgress = 2;
  s.total = 2;
  EXPECT_EQ(StatusLineText(s, now), "Syncing is paused; 2 files wait.");
  s.syncingPaused = false;
  EXPECT_EQ(StatusLineText(s, now), "2 files are being transferred (0%)...");
}

TEST_F(StatusLineTest, TheUploadsLineSaysWhetherItIsSafeToShutDown) {
  struct Case {
    int inProgress, downloads, failed;
    std::string waitingFor;
    std::optional<bool> held;
    std::string tooltipsSecondLine;  // empty: no second line
  };
  const Case cases[] = {
      {0, 0, 0, "", false, "All files are uploaded."},
      {2, 2, 0, "", false, "All files are uploaded."},  // downloads do not count
      {1, 0, 0, "", true, "1 file is still being uploaded. Shutdown is held until it is."},
      {3, 1, 0, "", true, "2 files are still being uploaded. Shutdown is held until they are."},
      {3, 0, 0, "", false, "3 files are still being uploaded."},  // no lock (no bus, or refused)
      {0, 0, 2, "", false, "2 files could not be transferred."},
      {1, 0, 1, "", true, "1 file is still being uploaded. Shutdown is held until it is."},
      {1, 0, 0, "Waiting: Syncthing is not running.", true, "Waiting: Syncthing is not running."},
      {1, 0, 0, "", std::nullopt, ""},  // the user switched the hold off: nothing said
  };
  for (const Case& c : cases) {
    TrackerSnapshot s;
    s.status = c.inProgress > 0 ? TrackerSnapshot::Status::Transferring : TrackerSnapshot::Status::Idle;
    s.inProgress = s.total = c.inProgress;
    s.downloadsInProgress = c.downloads;
    s.failed = c.failed;
    s.waitingFor = c.waitingFor;
    const std::string tooltip = StatusToolTipText(s, clock->Now(), c.held);
    const auto newline = tooltip.find('\n');
    EXPECT_EQ(newline == std::string::npos ? "" : tooltip.substr(newline + 1), c.tooltipsSecondLine)
        << c.inProgress << " in progress, " << c.downloads << " down, " << c.failed << " failed";
  }
}

TEST_F(StatusLineTest, OnlyALastTransferLineMovesOnByItself) {
  TrackerSnapshot s;
  const AbsoluteTime now = clock->Now();
  EXPECT_FALSE(SecondsUntilStatusLineChanges(s, now));  // "No files are being transferred."
  s.lastTransfer = now - 90;
  EXPECT_DOUBLE_EQ(SecondsUntilStatusLineChanges(s, now).value_or(0), 30);  // "1 minute" → "2 minutes"
  s.inProgress = 1;
  EXPECT_FALSE(SecondsUntilStatusLineChanges(s, now));
  // More completed than the total (counts read while a batch was replaced):
  // never past 100 %.
  s.inProgress = 2;
  s.total = 3;
  s.completed = 5;
  EXPECT_EQ(StatusLineText(s, now), "2 files are being transferred (100%)...");
  s.inProgress = 0;
  s.status = TrackerSnapshot::Status::ReceivedDownloads;
  EXPECT_FALSE(SecondsUntilStatusLineChanges(s, now));
}

TEST_F(StatusLineTest, ReceivedDownloadsAreSynchingChanges) {
  settings.includePatterns = {"/cloud/"};
  auto& t = MakeTracker();
  t.QueueFile(Item("d1", true));
  t.PollOnce();
  EXPECT_EQ(StatusLineText(t, std::nullopt, clock->Now()), "Synching changes to 1 file...");
  t.QueueFile(Item("d2", true));
  t.PollOnce();
  EXPECT_EQ(StatusLineText(t, std::nullopt, clock->Now()), "Synching changes to 2 files...");
  // A snapshot says the same, with the tracker's own date of the last transfer.
  TrackerSnapshot s = t.Snapshot();
  EXPECT_EQ(StatusLineText(s, clock->Now()), "Synching changes to 2 files...");
  s.completedDownloads = 0;
  s.status = TrackerSnapshot::Status::Idle;
  s.lastTransfer = clock->Now() - 120;
  EXPECT_EQ(StatusLineText(s, clock->Now()), "Last transfer 2 minutes ago.");
}

// The reason a shutdown lock gives, as the desktop's dialog shows it.
TEST(ShutdownReason, NamesAtMostThreeFilesByTheirNames) {
  EXPECT_EQ(ShutdownGuard::Reason(1, {"/c/Docs/report.txt"}), "1 file is still being uploaded: report.txt");
  EXPECT_EQ(ShutdownGuard::Reason(5, {"/c/a", "/c/b", "/c/c", "/c/d"}),
            "5 files are still being uploaded: a, b, c, \u2026");
  EXPECT_EQ(ShutdownGuard::Reason(2, {}), "2 files are still being uploaded.");
  EXPECT_EQ(ShutdownGuard::Reason(1, {"/c/two\nlines"}), "1 file is still being uploaded: two\\nlines");
}

}  // namespace
}  // namespace vantorel
