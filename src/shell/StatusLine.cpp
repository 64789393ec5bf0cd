#include "shell/StatusLine.h"

#include <algorithm>
#include <cmath>

#include "engine/Tracker.h"
#include "units/text/DateUtilities.h"
#include "units/text/ShortString.h"

namespace vantorel {

std::string StatusLineText(const TICloudTracker& tracker, std::optional<AbsoluteTime> lastTransfer, AbsoluteTime now) {
  TrackerSnapshot snapshot = tracker.Snapshot();
  snapshot.lastTransfer = lastTransfer;
  return StatusLineText(snapshot, now);
}

std::optional<double> SecondsUntilStatusLineChanges(const TrackerSnapshot& snapshot, AbsoluteTime now) {
  // Only "Last transfer … ago." moves on by itself.
  if (snapshot.status == TrackerSnapshot::Status::ReceivedDownloads || snapshot.inProgress > 0 ||
      !snapshot.lastTransfer)
    return std::nullopt;
  return secondsUntilRelativeDateChanges(*snapshot.lastTransfer, now);
}

std::string UploadsLineText(const TrackerSnapshot& snapshot, bool shutdownHeld) {
  const int uploads = std::max(0, snapshot.inProgress - snapshot.downloadsInProgress);
  if (uploads == 0 && snapshot.failed > 0)
    return snapshot.failed == 1 ? "1 file could not be transferred."
                                : std::to_string(snapshot.failed) + " files could not be transferred.";
  if (uploads == 0) return "All files are uploaded.";
  const std::string count =
      uploads == 1 ? "1 file is still being uploaded." : std::to_string(uploads) + " files are still being uploaded.";
  return shutdownHeld ? count + (uploads == 1 ? " Shutdown is held until it is." : " Shutdown is held until they are.")
                      : count;
}

std::string StatusToolTipText(const TrackerSnapshot& snapshot, AbsoluteTime now, std::optional<bool> shutdownHeld) {
  std::string text = StatusLineText(snapshot, now);
  if (!snapshot.waitingFor.empty())
    text += "\n" + snapshot.waitingFor;
  else if (shutdownHeld)
    text += "\n" + UploadsLineText(snapshot, *shutdownHeld);
  if (snapshot.inProgress > 0 && snapshot.total > 0 && snapshot.inProgressDone > 0.0) {
    const double done = (snapshot.completed + snapshot.inProgressDone) / snapshot.total;
    text += "\n" + std::to_string(std::lrint(std::clamp(done, 0.0, 1.0) * 100.0)) + "% of this batch is done.";
  }
  return text;
}

std::string StatusLineText(const TrackerSnapshot& snapshot, AbsoluteTime now) {
  if (snapshot.status == TrackerSnapshot::Status::ReceivedDownloads) {
    const int n = snapshot.completedDownloads;
    return n == 1 ? "Synching changes to 1 file..." : "Synching changes to " + std::to_string(n) + " files...";
  }
  const int inProgress = snapshot.inProgress;
  // Nothing moves while the client is paused: that comes first.
  if (snapshot.syncingPaused)
    return inProgress == 0 ? "Syncing is paused."
                           : "Syncing is paused; " + std::to_string(inProgress) +
                                 (inProgress == 1 ? " file waits." : " files wait.");
  if (inProgress == 1) return "1 file is being transferred...";
  if (inProgress > 1) {
    const int total = snapshot.total;
    const double done = total > 0 ? static_cast<double>(snapshot.completed) / total : 0.0;
    // Rounded half to even (the default rounding mode).
    const long percent = std::lrint(std::clamp(done, 0.0, 1.0) * 100.0);
    return std::to_string(inProgress) + " files are being transferred (" + std::to_string(percent) + "%)...";
  }
  if (snapshot.lastTransfer) {
    const auto phrase = relativeDateString(*snapshot.lastTransfer, true, now);
    return shortString("Last transfer " + phrase.value_or("") + ".");
  }
  return "No files are being transferred.";
}

}  // namespace vantorel
