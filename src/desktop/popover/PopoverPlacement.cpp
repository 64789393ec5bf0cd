#include "desktop/popover/PopoverPlacement.h"

#include <algorithm>

namespace vantorel {

namespace {
// A little air between the icon and the popover.
constexpr int kGap = 4;

int Clamp(int value, int low, int high) { return high < low ? low : std::clamp(value, low, high); }
}  // namespace

PlacementRect PlacePopover(const PlacementRect& anchor, const PlacementRect& available, int width, int height) {
  PlacementRect placed{0, 0, width, height};
  const int anchorMiddle = anchor.y + anchor.height / 2;
  const bool panelAtTop = anchorMiddle < available.y + available.height / 2;
  placed.y = panelAtTop ? anchor.y + anchor.height + kGap : anchor.y - kGap - height;
  placed.x = anchor.x + anchor.width / 2 - width / 2;
  placed.x = Clamp(placed.x, available.x, available.x + available.width - width);
  placed.y = Clamp(placed.y, available.y, available.y + available.height - height);
  return placed;
}

}  // namespace vantorel
