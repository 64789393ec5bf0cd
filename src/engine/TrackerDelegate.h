#pragma once
// What the tracker tells the application, always on the main thread.

#include <string>

#include "units/prefs/PlistValue.h"

namespace vantorel {

class TICloudTracker;

class TICloudTrackerDelegate {
public:
  virtual ~TICloudTrackerDelegate() = default;
  // The tracker's state changed: read it with tracker->Snapshot(). When a
  // batch has ended, the poll thread waits until this returns, so the
  // batch's counts are still there to read.
  virtual void trackerStatusChanged(TICloudTracker* tracker) = 0;
  virtual void trackerError(TICloudTracker* tracker, const std::string& error) = 0;
  // A transfer the client gave up on: `sentence` says which and why
  // ("report.txt could not be uploaded: REASON"), once per failure.
  virtual void trackerTransferFailed(TICloudTracker*, const std::string& path, const std::string& sentence) {
    (void)path;
    (void)sentence;
  }
  // The item-state source has something the user must hear of at once.
  virtual void trackerSourceNotice(TICloudTracker*, const std::string& text) { (void)text; }
  virtual void trackerDebugInfo(TICloudTracker* tracker, const PlistValue::Dictionary& info) = 0;
};

}  // namespace vantorel
