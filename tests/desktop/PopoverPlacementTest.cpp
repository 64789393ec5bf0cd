#include <gtest/gtest.h>

#include "desktop/popover/PopoverPlacement.h"

namespace vantorel {
namespace {

// A 1920×1080 screen with a 28-pixel panel at the top or at the bottom.
constexpr PlacementRect kBelowTopPanel{0, 28, 1920, 1052};
constexpr PlacementRect kAboveBottomPanel{0, 0, 1920, 1052};

TEST(PopoverPlacement, UnderATopPanelAboveABottomOneCentredAndInside) {
  // Icon in a top panel, mid-screen: centred under it.
  EXPECT_EQ(PlacePopover({900, 2, 24, 24}, kBelowTopPanel, 340, 300), (PlacementRect{742, 30, 340, 300}));
  // At the right edge: pushed left to stay inside.
  EXPECT_EQ(PlacePopover({1890, 2, 24, 24}, kBelowTopPanel, 340, 300), (PlacementRect{1580, 30, 340, 300}));
  // In a bottom panel at the left edge: above it, pushed right.
  EXPECT_EQ(PlacePopover({4, 1056, 24, 24}, kAboveBottomPanel, 340, 300), (PlacementRect{0, 752, 340, 300}));
  // No icon geometry (StatusNotifierItem): the pointer's point stands in for it.
  EXPECT_EQ(PlacePopover({1000, 10, 1, 1}, kBelowTopPanel, 340, 300), (PlacementRect{830, 28, 340, 300}));
  // A popover larger than the area starts at its corner.
  EXPECT_EQ(PlacePopover({900, 2, 24, 24}, PlacementRect{0, 28, 300, 200}, 340, 300), (PlacementRect{0, 28, 340, 300}));
}

}  // namespace
}  // namespace vantorel
