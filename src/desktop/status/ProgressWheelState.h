#pragma once
// What the progress wheel shows, apart from how it is painted: a pie inside
// a ring for a value between a minimum and a maximum, or, when it has one,
// an alternate image instead. Toolkit-free; the painter reads it.

#include <cstdint>

namespace vantorel {

// Red, green, blue and alpha, each 0.0 to 1.0.
struct WheelColor {
  float red = 0, green = 0, blue = 0, alpha = 0;
  bool operator==(const WheelColor&) const = default;
};

inline constexpr WheelColor kWheelDarkGrey{0.3f, 0.3f, 0.3f, 1.0f};
// Opaque: a transparent white would hide the pie and the ring.
inline constexpr WheelColor kWheelWhite{1.0f, 1.0f, 1.0f, 1.0f};
inline constexpr WheelColor kWheelClear{0.0f, 0.0f, 0.0f, 0.0f};

class ProgressWheelState {
public:
  // Images are named by their index in the status image set; none is -1.
  static constexpr int kNoImage = -1;
  // Width of the ring, in points.
  static constexpr double kFrameWidth = 1.5;

  void SetCurrentValue(double value) { Change(currentValue_, value); }
  void SetMinValue(double value) { Change(minValue_, value); }
  void SetMaxValue(double value) { Change(maxValue_, value); }
  void SetForegroundColor(WheelColor color) { Change(foreground_, color); }
  void SetBackgroundColor(WheelColor color) { Change(background_, color); }
  void SetAlternateImage(int image) { Change(alternateImage_, image < 0 ? kNoImage : image); }
  // A redraw without a change (the opacity of the image depends on things
  // the wheel does not hold: reachability, appearance).
  void SetNeedsDisplay() { ++revision_; }

  double CurrentValue() const { return currentValue_; }
  double MinValue() const { return minValue_; }
  double MaxValue() const { return maxValue_; }
  WheelColor ForegroundColor() const { return foreground_; }
  WheelColor BackgroundColor() const { return background_; }
  int AlternateImage() const { return alternateImage_; }
  bool HasAlternateImage() const { return alternateImage_ != kNoImage; }

  // current ÷ (max − min) when current is above 0 (the minimum is not taken
  // from the current value), else 0; clamped to 0…1. Equal bounds with a
  // positive value make a full pie.
  double Fraction() const;
  // The pie's sweep: 360 × Fraction() in whole degrees, ties to even,
  // clockwise from twelve o'clock.
  int SweepDegrees() const;

  // Goes up with every change: a painter redraws when it moved.
  std::uint64_t Revision() const { return revision_; }

private:
  template <typename T>
  void Change(T& field, T value) {
    field = value;
    ++revision_;
  }

  double currentValue_ = 0.0;
  double maxValue_ = 0.0;
  double minValue_ = 0.0;
  WheelColor foreground_ = kWheelDarkGrey;
  WheelColor background_{1.0f, 1.0f, 1.0f, 1.0f};
  int alternateImage_ = kNoImage;
  std::uint64_t revision_ = 0;
};

}  // namespace vantorel
