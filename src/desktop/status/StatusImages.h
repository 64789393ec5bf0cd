#pragma once
// The status artwork: the ten images (StatusItemTrackingView's order) for
// one icon size, rendered from the program's own drawings at the screen's
// device pixel ratio.

#include <QImage>

#include <array>

#include "desktop/status/StatusItemTrackingView.h"

namespace vantorel {

// The icon sizes there is artwork for.
inline constexpr std::array<int, 6> kOfferedStatusIconSizes = {16, 18, 20, 22, 24, 32};

using StatusImageSet = std::array<QImage, kStatusImageCount>;

// The images named by each prefix followed by `size`; null entries for a
// size without artwork or a drawing that cannot be read.
StatusImageSet ReloadStatusItemImages(int size, qreal devicePixelRatio);

// Which entries of a set are there.
std::array<bool, kStatusImageCount> Availability(const StatusImageSet& images);

}  // namespace vantorel
