// The tracker's parts on their own: the batch's bookkeeping, the pacing of
// the poll thread and what it remembers of single items.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/BatchAccounting.h"
#include "engine/ItemMemory.h"
#include "engine/PollPacing.h"
#include "support/TempDir.h"

namespace vantorel {
namespace {

using Reading = BatchAccounting::Reading;

TEST(BatchAccounting, AnUploadBatchEndsWhenNothingIsLeftInProgress) {
  BatchAccounting batch;
  batch.SetLastTransferDate(500.0);
  batch.TransferSeen(1000.0);
  batch.TransferSeen(1005.0);  // the batch began at its first transfer
  auto outcome = batch.Account(Reading{2, 0, 0}, 1006.0);
  EXPECT_TRUE(outcome.reportCounts);
  EXPECT_FALSE(outcome.uploadBatchEnded);
  batch.EndPass();
  outcome = batch.Account(Reading{2, 0, 0}, 1007.0);  // nothing changed: nothing to say
  EXPECT_FALSE(outcome.reportCounts || outcome.uploadBatchEnded || outcome.reportDownloads);
  batch.EndPass();
  outcome = batch.Account(Reading{0, 2, 0}, 1012.0);
  EXPECT_TRUE(outcome.uploadBatchEnded);
  EXPECT_TRUE(batch.Finished());
  EXPECT_DOUBLE_EQ(batch.ElapsedTime(), 12.0);
  EXPECT_EQ(batch.LastTransferDate(), 1012.0);
  batch.EndPass();
  // The next pass starts afresh, once.
  EXPECT_TRUE(batch.StartAfreshIfEnded(false));
  EXPECT_FALSE(batch.Finished());
  EXPECT_FALSE(batch.StartAfreshIfEnded(false));
  batch.TransferSeen(2000.0);
  batch.Account(Reading{1, 0, 0}, 2000.0);
  batch.EndPass();
  batch.Account(Reading{0, 1, 0}, 2003.0);
  EXPECT_DOUBLE_EQ(batch.ElapsedTime(), 3.0);  // timed from its own start
}

TEST(BatchAccounting, ABatchWhoseItemsAllVanishedKeepsTheLastTransferDate) {
  BatchAccounting batch;
  batch.SetLastTransferDate(500.0);
  batch.TransferSeen(1000.0);
  batch.Account(Reading{1, 0, 0}, 1000.0);
  batch.EndPass();
  EXPECT_TRUE(batch.Account(Reading{0, 0, 0}, 1010.0).uploadBatchEnded);
  EXPECT_EQ(batch.LastTransferDate(), 500.0);
  batch.SetLastTransferDate(std::nullopt);
  EXPECT_FALSE(batch.LastTransferDate().has_value());
}

TEST(BatchAccounting, ReceivedDownloadsCloseAsTheirOwnBatchAfterTheDelay) {
  BatchAccounting batch;
  batch.DownloadReceived(100.0);
  auto outcome = batch.Account(Reading{0, 0, 1}, 101.0);
  EXPECT_TRUE(outcome.reportDownloads);
  EXPECT_TRUE(outcome.downloadsWaiting);
  EXPECT_FALSE(batch.DownloadBatchIsDue(101.0, 5.0));
  batch.EndPass();
  batch.DownloadReceived(103.0);  // a second one keeps the batch open
  outcome = batch.Account(Reading{0, 0, 2}, 107.0);
  EXPECT_TRUE(outcome.reportDownloads);
  EXPECT_FALSE(batch.DownloadBatchIsDue(107.0, 5.0));
  batch.EndPass();
  outcome = batch.Account(Reading{0, 0, 2}, 108.5);
  EXPECT_FALSE(outcome.reportDownloads);  // no new one
  EXPECT_TRUE(outcome.downloadsWaiting);
  EXPECT_TRUE(batch.DownloadBatchIsDue(108.5, 5.0));
  batch.CloseDownloadBatch(2, 108.5);
  // While the delegate hears of it: finished, two received, no elapsed time.
  EXPECT_TRUE(batch.Finished());
  EXPECT_EQ(batch.PreviousCompletedDownloads(), 2);
  EXPECT_DOUBLE_EQ(batch.ElapsedTime(), 0.0);
  batch.EndPass();
  EXPECT_EQ(batch.PreviousCompletedDownloads(), 0);  // the set was emptied
  EXPECT_EQ(batch.LastTransferDate().value_or(0), 108.5);  // what arrived was a transfer too
}

TEST(BatchAccounting, DownloadsWaitingForTheirBatchKeepTheirClockAcrossAnUploadBatch) {
  BatchAccounting batch;
  batch.DownloadReceived(100.0);
  batch.TransferSeen(100.5);
  batch.Account(Reading{1, 0, 1}, 101.0);
  batch.EndPass();
  batch.Account(Reading{0, 1, 1}, 102.0);  // the upload batch ends
  batch.EndPass();
  ASSERT_TRUE(batch.StartAfreshIfEnded(true));
  // Received at 100: the delay runs from then, not from the fresh start.
  EXPECT_TRUE(batch.Account(Reading{0, 0, 1}, 105.5).downloadsWaiting);
  EXPECT_TRUE(batch.DownloadBatchIsDue(105.5, 5.0));
}

TEST(PollPacing, TheIntervalGrowsOnlyWhileNothingCompletesAndResetsOnActivity) {
  PollPacing pacing;
  pacing.Reset(0);
  EXPECT_DOUBLE_EQ(pacing.Interval(), 1.0);
  EXPECT_EQ(pacing.SliceSize(), 100);
  pacing.BeginPass();
  pacing.EndPass(3);
  EXPECT_DOUBLE_EQ(pacing.Interval(), 1.25);
  pacing.BeginPass();
  pacing.NoteCompletion();
  pacing.EndPass(3);
  EXPECT_DOUBLE_EQ(pacing.Interval(), 1.25);  // something completed
  pacing.BeginPass();
  pacing.EndPass(0);
  EXPECT_DOUBLE_EQ(pacing.Interval(), 1.25);  // nothing in progress
  for (int i = 0; i < 100; ++i) {
    pacing.BeginPass();
    pacing.EndPass(3);
  }
  EXPECT_DOUBLE_EQ(pacing.Interval(), 10.0);  // the ceiling for up to 10
  pacing.Reset(1);
  EXPECT_DOUBLE_EQ(pacing.Interval(), 1.0);
  EXPECT_EQ(pacing.SliceSize(), 25);
  pacing.Reset(2);
  EXPECT_EQ(pacing.SliceSize(), 200);
  pacing.Reset(7);  // an unknown mode leaves the slice as it was
  EXPECT_EQ(pacing.SliceSize(), 200);
}

TEST(ItemMemory, ACompletionEchoesForAMinuteWhileTheContentIsUnchanged) {
  test::TempDir dir;
  const std::string file = dir.Write("a.txt", "one");
  ItemMemory memory;
  memory.NoteCompletion(file, 1000.0);
  EXPECT_TRUE(memory.IsEchoOfCompletion(file, 1030.0));
  EXPECT_FALSE(memory.IsEchoOfCompletion(dir.path() + "/other.txt", 1030.0));
  EXPECT_FALSE(memory.IsEchoOfCompletion(file, 1061.0));  // too late
  std::ofstream(file, std::ios::app) << " more";
  EXPECT_FALSE(memory.IsEchoOfCompletion(file, 1030.0));  // changed since: a real change
  memory.NoteCompletion(file, 1100.0);
  memory.ForgetOldCompletions(1161.0);
  EXPECT_TRUE(memory.CompletedWithThisContent(file));  // kept ten minutes against a second recording
  memory.ForgetOldCompletions(1701.0);
  EXPECT_FALSE(memory.IsEchoOfCompletion(file, 1100.0));  // forgotten
  EXPECT_FALSE(memory.CompletedWithThisContent(file));
  // Where the source keeps a version of the content, a new time on disk
  // (a mount showing the remote's once sent) is no change; a new version is.
  memory.NoteCompletion(file, 2000.0, "v1");
  const auto later = std::filesystem::last_write_time(file) + std::chrono::seconds(3);
  std::filesystem::last_write_time(file, later);
  EXPECT_TRUE(memory.IsEchoOfCompletion(file, 2010.0, "v1"));
  EXPECT_FALSE(memory.IsEchoOfCompletion(file, 2010.0, "v2"));
  EXPECT_FALSE(memory.CompletedWithThisContent(file));  // no version now: the time says
}

TEST(ItemMemory, AVanishedPlaceholderIsGivenUpAfterThirtySeconds) {
  ItemMemory memory;
  const std::string placeholder = "/cloud/.a.txt.icloud";
  EXPECT_FALSE(memory.IsAbandonedDownload(placeholder, 100.0));  // first sight starts the clock
  EXPECT_FALSE(memory.IsAbandonedDownload(placeholder, 129.0));
  EXPECT_TRUE(memory.IsAbandonedDownload(placeholder, 130.0));
  EXPECT_FALSE(memory.IsAbandonedDownload(placeholder, 131.0));  // given up: a new clock
  memory.ForgetPlaceholder(placeholder);                          // seen again
  EXPECT_FALSE(memory.IsAbandonedDownload(placeholder, 170.0));
  EXPECT_FALSE(memory.IsAbandonedDownload(placeholder, 199.0));
}

}  // namespace
}  // namespace vantorel
