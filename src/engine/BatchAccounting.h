#pragma once
// The batch's bookkeeping. A batch of transfers begins with the first
// transfer seen after the last one ended and ends when none is in progress
// any more; downloads received while nothing of ours was transferring close
// as a batch of their own once none has come for the download delay. This
// keeps when the batch began, how long it took, when the last download came
// and when a transfer last completed, and decides from one reading of the
// counts per pass what the tracker has to report.
//
// Threads: the poll thread calls everything except the readings, Restart
// (a rescan hands over on the main thread while the tracker is paused) and
// SetLastTransferDate (the main thread, before the first pass). What more
// than the poll thread touches is atomic.

#include <atomic>
#include <cstdint>
#include <optional>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class BatchAccounting {
public:
  // One reading of the transfer sets' sizes, taken under their lock.
  struct Reading {
    int inProgress = 0;
    int completed = 0;
    int downloads = 0;  // received, in the open download batch
  };
  // What the tracker is to do after a pass's reading, in this order.
  struct Outcome {
    // The number in progress changed: tell the delegate (no waiting).
    bool reportCounts = false;
    // The batch ended (its time and date are recorded): log, save the
    // history, tell the delegate and wait until it has read the counts,
    // which the next pass clears.
    bool uploadBatchEnded = false;
    // More downloads received: tell the delegate and wait.
    bool reportDownloads = false;
    // Received downloads wait, nothing is in progress: once told, ask
    // DownloadBatchIsDue whether their batch closes.
    bool downloadsWaiting = false;
  };

  // At a pass's start: when the last pass ended a batch, starts afresh and
  // returns true (the tracker then empties the batch's sets, under the same
  // lock it reads them with). `downloadsOpen`: received downloads still wait
  // to close as their own batch, so their clock keeps running.
  bool StartAfreshIfEnded(bool downloadsOpen);
  // An upload or download entered the batch at `now`.
  void TransferSeen(AbsoluteTime now);
  // A download was received at `now` (it enters the batch too).
  void DownloadReceived(AbsoluteTime now);
  // A rescan handed over the transfers in progress: they began now.
  void Restart(AbsoluteTime now) { startTime_ = now; }

  // Compares this pass's reading with the last and records a batch's end.
  Outcome Account(const Reading& reading, AbsoluteTime now);
  // No download for longer than the delay by `now` (read after the delegate
  // was told, which may take a while): the tracker then logs, saves, empties
  // the received set and calls CloseDownloadBatch.
  bool DownloadBatchIsDue(AbsoluteTime now, double downloadBatchDelay) const {
    return now - lastDownloadTime_.load() > static_cast<float>(downloadBatchDelay);
  }
  // The received set of `downloads` items has been emptied at `now`: that
  // batch ended (and its items were transfers too: "Last transfer" moves on).
  void CloseDownloadBatch(int downloads, AbsoluteTime now);
  // After the reports: this reading is the one the next pass compares with.
  void EndPass();

  // Any thread.
  bool Finished() const { return finished_.load(); }
  // How long the batch that ended last took (0 for a download batch).
  double ElapsedTime() const { return elapsed_.load(); }
  // The received items of the download batch that closed (during its report).
  std::int32_t PreviousCompletedDownloads() const { return previousDownloads_.load(); }
  std::optional<AbsoluteTime> LastTransferDate() const;
  void SetLastTransferDate(std::optional<AbsoluteTime> date) { lastTransferDate_ = date.value_or(0.0); }

private:
  // Poll thread only.
  Reading last_;
  int downloadsAfterPass_ = 0;
  std::int32_t previousInProgress_ = 0;
  // Shared.
  std::atomic<double> startTime_{0.0};  // 0: no batch open
  std::atomic<double> elapsed_{0.0};
  std::atomic<double> lastDownloadTime_{0.0};
  std::atomic<double> lastTransferDate_{0.0};  // 0: none known
  std::atomic<std::int32_t> previousDownloads_{0};
  std::atomic<bool> finished_{false};
};

}  // namespace vantorel
