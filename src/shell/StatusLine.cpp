#include "shell/StatusLine.h"

#include <algorithm>
#include <cmath>

#include "engine/Tracker.h"
#include "units/text/DateUtilities.h"
#include "units/text/ShortString.h"

namespace vantorel {

std::string StatusLineText(const TICloudTracker& tracker, std::optional<AbsoluteTime> lastTransfer, AbsoluteTime now) {
  if (tracker.GetStatus() == 2) {
    const int n = tracker.GetCompletedDownloadCount();
    return n == 1 ? "Synching changes to 1 file..." : "Synching changes to " + std::to_string(n) + " files...";
  }
  const int inProgress = tracker.GetTransferCount();
  if (inProgress == 1) return "1 file is being transferred...";
  if (inProgress > 1) {
    const int total = tracker.GetTotalTransferCount();
    const double done = total > 0 ? static_cast<double>(tracker.GetCompletedTransferCount()) / total : 0.0;
    // Rounded half to even (the default rounding mode).
    const long percent = std::lrint(std::clamp(done, 0.0, 1.0) * 100.0);
    return std::to_string(inProgress) + " files are being transferred (" + std::to_string(percent) + "%)...";
  }
  if (lastTransfer) {
    const auto phrase = relativeDateString(*lastTransfer, true, now);
    return shortString("Last transfer " + phrase.value_or("") + ".");
  }
  return "No files are being transferred.";
}

}  // namespace vantorel
