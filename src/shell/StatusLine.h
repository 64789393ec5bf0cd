#pragma once
// The one-line summary of the tracker's state that the popover shows.

#include <optional>
#include <string>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class TICloudTracker;
struct TrackerSnapshot;

// "Synching changes to …", "1 file is being transferred...", "N files are
// being transferred (P%)...", "Last transfer … ago." or "No files are being
// transferred.", from one snapshot of the tracker.
std::string StatusLineText(const TrackerSnapshot& snapshot, AbsoluteTime now);
// Whether it is safe to shut down: "All files are uploaded.", "3 files are
// still being uploaded." (with " Shutdown is held until they are." while
// `shutdownHeld`), or, with nothing uploading but transfers the client gave
// up on, "1 file could not be transferred.".
std::string UploadsLineText(const TrackerSnapshot& snapshot, bool shutdownHeld);
// The tray's tooltip: the line; under it, why nothing moves where the
// source says ("Waiting: Syncthing is not running."), else the uploads'
// line while `shutdownHeld` is known (the user wants it said); and while
// the source gives percentages of what is in progress, how much of the
// batch is done ("53% of this batch is done.").
std::string StatusToolTipText(const TrackerSnapshot& snapshot, AbsoluteTime now,
                              std::optional<bool> shutdownHeld = std::nullopt);
// Seconds until the line for `snapshot` may read otherwise with no change of
// the tracker's (its relative date moving on); nothing when it has no
// relative date.
std::optional<double> SecondsUntilStatusLineChanges(const TrackerSnapshot& snapshot, AbsoluteTime now);
// The same from the tracker's state now, with `lastTransfer` for the date.
std::string StatusLineText(const TICloudTracker& tracker, std::optional<AbsoluteTime> lastTransfer, AbsoluteTime now);

}  // namespace vantorel
