#include "desktop/status/StatusItemTrackingView.h"

#include <algorithm>

#include "units/runtime/Diagnostics.h"

namespace vantorel {

const std::array<const char*, kStatusImageCount> kStatusImagePrefixes = {
    "status_",      "status_selected_",      "status_upload_", "status_upload_selected_",
    "status_down_", "status_down_selected_", "status_sync_",   "status_sync_selected_",
    "status_paused_", "status_paused_selected_"};

namespace {
constexpr int kPausedImage = 8;
// The stored mode as the view keeps it: a 32-bit value (anything else is
// neither icon nor progress mode, and leaves the wheel as it is).
std::int32_t ModeOf(std::int64_t stored) {
  if (stored < INT32_MIN || stored > INT32_MAX) return -1;
  return static_cast<std::int32_t>(stored);
}
}  // namespace

TStatusItemTrackingView::TStatusItemTrackingView(std::int64_t mode, std::function<bool()> isInterfaceStyleDark,
                                                 const std::array<bool, kStatusImageCount>& available)
    : isInterfaceStyleDark_(std::move(isInterfaceStyleDark)), available_(available), mode_(ModeOf(mode)) {
  wheel_.SetBackgroundColor(kWheelClear);
  // The pie's colour follows the panel from the start (a dark grey pie
  // would be lost on a dark panel).
  wheel_.SetForegroundColor(IsInterfaceLight() ? kWheelWhite : kWheelDarkGrey);
  wheel_.SetAlternateImage(StatusImage());
}

void TStatusItemTrackingView::SetImagesAvailable(const std::array<bool, kStatusImageCount>& available) {
  available_ = available;
}

// Trays on Linux draw nothing behind a highlighted icon: the highlighted icon
// keeps the artwork that stands out from the panel (white on a light panel
// all but vanished).
bool TStatusItemTrackingView::IsInterfaceLight() const { return isInterfaceStyleDark_ && isInterfaceStyleDark_(); }

int TStatusItemTrackingView::StatusImageIndex() const {
  const int light = IsInterfaceLight() ? 1 : 0;
  if (syncingPaused_) return kPausedImage + light;
  if (!transferring_) return 0 + light;
  return directionImage_ + light;
}

int TStatusItemTrackingView::StatusImage() const {
  const int index = StatusImageIndex();
  return available_[static_cast<std::size_t>(index)] ? index : ProgressWheelState::kNoImage;
}

void TStatusItemTrackingView::SetHighlighted(bool highlighted) {
  highlighted_ = highlighted;
  wheel_.SetForegroundColor(IsInterfaceLight() ? kWheelWhite : kWheelDarkGrey);
  if (wheel_.HasAlternateImage()) wheel_.SetAlternateImage(StatusImage());
  wheel_.SetNeedsDisplay();
}

void TStatusItemTrackingView::TrackerStatusChanged(std::int32_t status, std::int32_t inProgress, std::int32_t total,
                                                   std::int32_t completed, std::int32_t downloadsInProgress,
                                                   double inProgressDone) {
  transferring_ = status != 0;
  downloading_ = status == 2;
  if (downloading_ || (downloadsInProgress > 0 && downloadsInProgress < inProgress))
    directionImage_ = 6;  // both ways
  else if (downloadsInProgress > 0)
    directionImage_ = 4;  // only coming in
  else
    directionImage_ = 2;
  if (mode_ == 0 || (mode_ == 1 && syncingPaused_)) {
    // Paused, nothing moves: the pie would only freeze where it was.
    wheel_.SetAlternateImage(StatusImage());
  } else if (mode_ == 1) {
    if (downloading_) {
      wheel_.SetAlternateImage(StatusImage());
    } else if (inProgress > 0) {
      wheel_.SetAlternateImage(ProgressWheelState::kNoImage);
      wheel_.SetMinValue(0.0);
      wheel_.SetMaxValue(static_cast<double>(total));
      wheel_.SetCurrentValue(std::min(static_cast<double>(total), completed + inProgressDone));
    } else {
      wheel_.SetAlternateImage(StatusImage());
      wheel_.SetMinValue(0.0);
      wheel_.SetMaxValue(0.0);
      wheel_.SetCurrentValue(0.0);
    }
  }
  // Any other mode: the wheel is left as it was.
}

void TStatusItemTrackingView::NetworkReachabilityChanged() { wheel_.SetAlternateImage(StatusImage()); }

void TStatusItemTrackingView::InterfaceThemeChanged() {
  if (wheel_.HasAlternateImage()) wheel_.SetAlternateImage(StatusImage());
  wheel_.SetForegroundColor(IsInterfaceLight() ? kWheelWhite : kWheelDarkGrey);
  wheel_.SetNeedsDisplay();
}

void TStatusItemTrackingView::ModeChanged(std::int64_t mode) {
  mode_ = ModeOf(mode);
  WriteVerboseLine("status item mode changed: " + std::to_string(mode));
  wheel_.SetNeedsDisplay();
}

}  // namespace vantorel
