// What the tray icon shows, decided without any toolkit.

#include <gtest/gtest.h>

#include "desktop/status/ProgressWheelState.h"
#include "desktop/status/StatusItemTrackingView.h"
#include "support/CaptureDiagnostics.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;

int Sweep(double current, double min, double max) {
  ProgressWheelState wheel;
  wheel.SetMinValue(min);
  wheel.SetMaxValue(max);
  wheel.SetCurrentValue(current);
  return wheel.SweepDegrees();
}

TEST(ProgressWheel, TheSweepIsTheClampedFractionInWholeDegreesTiesToEven) {
  EXPECT_EQ(Sweep(3, 0, 12), 90);
  EXPECT_EQ(Sweep(5, 2, 6), 360);   // 5 ÷ 4: the minimum is not taken from the value; clamped
  EXPECT_EQ(Sweep(0, 0, 12), 0);
  EXPECT_EQ(Sweep(-4, 0, 12), 0);
  EXPECT_EQ(Sweep(1, 0, 720), 0);   // 0.5° goes to the even 0
  EXPECT_EQ(Sweep(3, 0, 720), 2);   // 1.5° goes to the even 2
  EXPECT_EQ(Sweep(5, 0, 720), 2);   // 2.5° goes to the even 2
  EXPECT_EQ(Sweep(2, 3, 3), 360);   // equal bounds with a positive value: full
  EXPECT_EQ(Sweep(1, 0, -4), 0);    // a negative range clamps to nothing
}

TEST(ProgressWheel, EveryChangeAsksForARedraw) {
  ProgressWheelState wheel;
  const auto before = wheel.Revision();
  wheel.SetCurrentValue(1);
  wheel.SetAlternateImage(-7);
  EXPECT_EQ(wheel.AlternateImage(), ProgressWheelState::kNoImage);
  wheel.SetNeedsDisplay();
  EXPECT_EQ(wheel.Revision(), before + 3);
}

class TrackingView : public ::testing::Test {
protected:
  TrackingView() { available.fill(true); }
  TStatusItemTrackingView Make(std::int64_t mode) {
    return TStatusItemTrackingView(mode, [this] { return dark; }, available);
  }
  bool dark = false;
  std::array<bool, kStatusImageCount> available{};
};

TEST_F(TrackingView, TheImageFollowsStatusAppearanceAndHighlight) {
  // status, dark panel, highlighted -> index. A highlighted icon keeps the
  // artwork that stands out from its panel (trays here draw no highlight
  // behind it: white on a light panel all but vanished).
  struct Case {
    std::int32_t status;
    bool dark, highlighted;
    int image;
  };
  const Case cases[] = {
      {0, false, false, 0}, {0, true, false, 1}, {0, false, true, 0}, {0, true, true, 1},
      {1, false, false, 2}, {1, true, false, 3}, {1, false, true, 2}, {1, true, true, 3},
      {2, false, false, 6}, {2, true, false, 7}, {2, false, true, 6}, {2, true, true, 7},
  };
  for (const Case& c : cases) {
    dark = c.dark;
    auto view = Make(0);
    view.SetHighlighted(c.highlighted);
    view.TrackerStatusChanged(c.status, c.status == 1 ? 1 : 0, 1, 0);
    EXPECT_EQ(view.StatusImage(), c.image) << c.status << c.dark << c.highlighted;
    EXPECT_EQ(view.Wheel().AlternateImage(), c.image);
    EXPECT_EQ(view.Wheel().ForegroundColor(), view.IsInterfaceLight() ? kWheelWhite : kWheelDarkGrey);
  }
}

TEST_F(TrackingView, TheArtworkShowsWhichWayTheTransfersGo) {
  auto view = Make(0);
  view.TrackerStatusChanged(1, 3, 3, 0, 0);
  EXPECT_EQ(view.StatusImage(), 2);  // uploads only: up
  view.TrackerStatusChanged(1, 3, 3, 0, 3);
  EXPECT_EQ(view.StatusImage(), 4);  // downloads only: down
  view.TrackerStatusChanged(1, 3, 3, 0, 1);
  EXPECT_EQ(view.StatusImage(), 6);  // both ways
  view.TrackerStatusChanged(2, 0, 3, 3, 0);
  EXPECT_EQ(view.StatusImage(), 6);  // received downloads
  dark = true;
  view.InterfaceThemeChanged();
  view.TrackerStatusChanged(1, 2, 2, 0, 2);
  EXPECT_EQ(view.StatusImage(), 5);  // the light down arrow on a dark panel
  // Paused in the client: the paused cloud, not the arrows, in both modes.
  view.SetSyncingPaused(true);
  view.TrackerStatusChanged(1, 2, 2, 0, 0);
  EXPECT_EQ(view.StatusImage(), 9);
  auto pie = Make(1);
  pie.SetSyncingPaused(true);
  pie.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_EQ(pie.Wheel().AlternateImage(), 9);
}

TEST_F(TrackingView, ProgressModeShowsThePieOnlyForTransfersInProgress) {
  auto view = Make(1);
  view.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_FALSE(view.Wheel().HasAlternateImage());
  EXPECT_EQ(view.Wheel().SweepDegrees(), 90);
  // A one-file batch at 53 %: the pie shows the fraction, not 0.
  view.TrackerStatusChanged(1, 1, 1, 0, 0, 0.53);
  EXPECT_DOUBLE_EQ(view.Wheel().CurrentValue(), 0.53);
  // Received downloads: the sync image, never the pie.
  view.TrackerStatusChanged(2, 0, 12, 12);
  EXPECT_EQ(view.Wheel().AlternateImage(), 6);
  // Idle: the idle image and all three values 0.
  view.TrackerStatusChanged(1, 2, 4, 1);
  view.TrackerStatusChanged(0, 0, 4, 4);
  EXPECT_EQ(view.Wheel().AlternateImage(), 0);
  EXPECT_EQ(view.Wheel().CurrentValue(), 0.0);
  EXPECT_EQ(view.Wheel().MaxValue(), 0.0);
  EXPECT_EQ(view.Wheel().MinValue(), 0.0);
}

TEST_F(TrackingView, IconModeNeverShowsThePieAndOtherModesLeaveTheWheelAlone) {
  auto icon = Make(0);
  icon.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_EQ(icon.Wheel().AlternateImage(), 2);

  auto other = Make(7);
  other.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_EQ(other.Wheel().AlternateImage(), 0);  // untouched
  EXPECT_TRUE(other.IsTransferring());
  other.NetworkReachabilityChanged();  // the image still follows the status there
  EXPECT_EQ(other.Wheel().AlternateImage(), 2);

  auto huge = Make(std::int64_t{1} << 40);  // not a 32-bit mode: neither icon nor progress
  huge.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_EQ(huge.Wheel().AlternateImage(), 0);
}

TEST_F(TrackingView, ReachabilityReplacesThePieUntilTheNextStatusChange) {
  auto view = Make(1);
  view.TrackerStatusChanged(1, 3, 12, 3);
  view.NetworkReachabilityChanged();
  EXPECT_EQ(view.Wheel().AlternateImage(), 2);
  view.TrackerStatusChanged(1, 3, 12, 6);
  EXPECT_FALSE(view.Wheel().HasAlternateImage());
  EXPECT_EQ(view.Wheel().SweepDegrees(), 180);
}

TEST_F(TrackingView, AMissingImageLeavesThePie) {
  available[2] = false;
  auto view = Make(0);
  view.TrackerStatusChanged(1, 1, 4, 1);
  EXPECT_FALSE(view.Wheel().HasAlternateImage());
  EXPECT_EQ(view.Wheel().SweepDegrees(), 0);  // mode 0 sets no values: the wheel keeps its own
}

TEST_F(TrackingView, APanelChangeChangesTheArtworkInPlaceAndAHighlightKeepsIt) {
  auto view = Make(0);
  view.TrackerStatusChanged(1, 1, 1, 0);
  view.SetHighlighted(true);
  EXPECT_EQ(view.Wheel().AlternateImage(), 2);
  view.SetHighlighted(false);
  EXPECT_EQ(view.Wheel().AlternateImage(), 2);
  dark = true;
  view.InterfaceThemeChanged();
  EXPECT_EQ(view.Wheel().AlternateImage(), 3);
  EXPECT_EQ(view.Wheel().ForegroundColor(), kWheelWhite);
}

TEST_F(TrackingView, AModeChangeIsSaidOnlyWhenVerboseAndWaitsForTheNextStatus) {
  auto view = Make(0);
  view.TrackerStatusChanged(1, 3, 12, 3);
  CaptureDiagnostics diagnostics;
  view.ModeChanged(0);
  EXPECT_EQ(diagnostics.Text(), "");  // a quiet terminal by default
  SetVerbose(true);
  view.ModeChanged(1);
  SetVerbose(false);
  EXPECT_EQ(diagnostics.Text(), "status item mode changed: 1\n");
  EXPECT_EQ(view.Wheel().AlternateImage(), 2);
  view.TrackerStatusChanged(1, 3, 12, 3);
  EXPECT_FALSE(view.Wheel().HasAlternateImage());
}

}  // namespace
}  // namespace vantorel
