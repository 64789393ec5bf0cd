#pragma once
// Where the popover goes beside the tray icon: under it when the panel is at
// the top of the screen, above it otherwise, centred on it, and kept wholly
// inside the screen's available area. Toolkit-free: plain rectangles in
// device-independent pixels.

namespace vantorel {

struct PlacementRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PlacementRect&) const = default;
};

// `anchor`: the icon's geometry, or a 1×1 rectangle at the pointer when the
// tray reports none. `available`: the screen's area without its panels.
PlacementRect PlacePopover(const PlacementRect& anchor, const PlacementRect& available, int width, int height);

}  // namespace vantorel
