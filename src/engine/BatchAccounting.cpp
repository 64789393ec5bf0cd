#include "engine/BatchAccounting.h"

namespace vantorel {

bool BatchAccounting::StartAfreshIfEnded(bool downloadsOpen) {
  if (!finished_.load()) return false;
  finished_ = false;
  startTime_ = 0.0;
  if (!downloadsOpen) lastDownloadTime_ = 0.0;
  return true;
}

void BatchAccounting::TransferSeen(AbsoluteTime now) {
  if (startTime_.load() == 0.0) startTime_ = now;
}

void BatchAccounting::DownloadReceived(AbsoluteTime now) {
  TransferSeen(now);
  lastDownloadTime_ = now;
}

BatchAccounting::Outcome BatchAccounting::Account(const Reading& reading, AbsoluteTime now) {
  last_ = reading;
  downloadsAfterPass_ = reading.downloads;
  Outcome outcome;
  if (reading.inProgress != previousInProgress_ && reading.inProgress > 0) {
    outcome.reportCounts = true;
  } else if (reading.inProgress == 0 && (previousInProgress_ > 0 || (reading.completed > 0 && !finished_.load()))) {
    // (The second: uploads that began and ended between two looks, with
    // nothing seen in progress, make a batch too.)
    outcome.uploadBatchEnded = true;
    finished_ = true;
    // A batch whose items all vanished (deleted before they were uploaded)
    // transferred nothing: "Last transfer" keeps its date.
    if (reading.completed > 0) lastTransferDate_ = now;
    elapsed_ = now - startTime_.load();
  } else if (reading.downloads > 0 && reading.inProgress == 0) {
    outcome.reportDownloads = reading.downloads != previousDownloads_.load();
    outcome.downloadsWaiting = true;
  }
  return outcome;
}

void BatchAccounting::CloseDownloadBatch(int downloads, AbsoluteTime now) {
  if (downloads > 0) lastTransferDate_ = now;
  elapsed_ = 0.0;
  previousDownloads_ = downloads;
  downloadsAfterPass_ = 0;
  finished_ = true;
}

void BatchAccounting::EndPass() {
  previousInProgress_ = last_.inProgress;
  previousDownloads_ = downloadsAfterPass_;
}

std::optional<AbsoluteTime> BatchAccounting::LastTransferDate() const {
  const double date = lastTransferDate_.load();
  if (date == 0.0) return std::nullopt;
  return date;
}

}  // namespace vantorel
