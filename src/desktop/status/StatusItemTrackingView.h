#pragma once
// TStatusItemTrackingView: what the tray icon shows and why, apart from the
// tray itself. It keeps the tracker's last state, the display mode and the
// highlight, chooses the status image for them and the panel's appearance,
// and drives the progress wheel (a status image, or the batch's pie).
// Toolkit-free; the tray icon (StatusItem) owns one and paints its wheel.
// Main thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "desktop/status/ProgressWheelState.h"

namespace vantorel {

// The ten status images, by index: idle, upload, download, sync and paused,
// each in the dark artwork (light panels) then the light one (dark panels).
inline constexpr int kStatusImageCount = 10;
extern const std::array<const char*, kStatusImageCount> kStatusImagePrefixes;

class TStatusItemTrackingView {
public:
  // `isInterfaceStyleDark`: whether the panel needs the light artwork, asked
  // when needed;
  // `available`: which of the images exist (ReloadStatusItemImages
  // runs before the view is made).
  TStatusItemTrackingView(std::int64_t mode, std::function<bool()> isInterfaceStyleDark,
                          const std::array<bool, kStatusImageCount>& available);

  // Which of the images exist for the current icon size (a missing
  // one makes the wheel draw its pie instead). The wheel keeps what it shows
  // until its next refresh.
  void SetImagesAvailable(const std::array<bool, kStatusImageCount>& available);

  void SetHighlighted(bool highlighted);
  bool IsHighlighted() const { return highlighted_; }
  // The panel is dark: the light artwork (highlighted or not).
  bool IsInterfaceLight() const;
  // The image for the last status, appearance and highlight; kNoImage when
  // that image is missing.
  int StatusImage() const;
  // The index of that image whether or not it exists.
  int StatusImageIndex() const;

  // The tracker's state changed: its status (0 idle, 1 in progress, 2
  // received downloads), for the pie the counts of the batch, and how many
  // of those in progress are coming in. The artwork shows the direction:
  // the up arrow while only uploads run, the down arrow while only
  // downloads do, the two-way arrows while both do (and for received
  // downloads).
  // `inProgressDone`: how much of those in progress is done, in files (the
  // pie counts each by its fraction where the source gives one).
  void TrackerStatusChanged(std::int32_t status, std::int32_t inProgress, std::int32_t total, std::int32_t completed,
                            std::int32_t downloadsInProgress = 0, double inProgressDone = 0.0);
  // The sync client's syncing of the watched folder is paused: the paused
  // artwork, whatever waits, until it resumes. Takes effect at the next
  // status change.
  void SetSyncingPaused(bool paused) { syncingPaused_ = paused; }
  bool IsSyncingPaused() const { return syncingPaused_; }
  // The network came or went: the status image replaces a pie until the
  // next status change.
  void NetworkReachabilityChanged();
  void InterfaceThemeChanged();
  // "StatusItemMode" changed; writes "status item mode changed: N". It takes
  // effect at the next status change.
  void ModeChanged(std::int64_t mode);

  std::int32_t Mode() const { return mode_; }
  bool IsTransferring() const { return transferring_; }
  bool IsDownloading() const { return downloading_; }
  // 2 (upload), 4 (download) or 6 (both ways): the artwork while transferring.
  int DirectionImage() const { return directionImage_; }
  const ProgressWheelState& Wheel() const { return wheel_; }
  ProgressWheelState& Wheel() { return wheel_; }

private:
  std::function<bool()> isInterfaceStyleDark_;
  ProgressWheelState wheel_;
  std::array<bool, kStatusImageCount> available_{};
  bool highlighted_ = false;
  std::int32_t mode_ = 0;
  bool transferring_ = false;
  bool downloading_ = false;
  bool syncingPaused_ = false;
  int directionImage_ = 2;
};

}  // namespace vantorel
