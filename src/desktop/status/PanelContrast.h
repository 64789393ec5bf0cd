#pragma once
// Which artwork the tray icon needs to stand out from the panel it sits on
// (not from the application's colour scheme: a panel is often dark in a
// light desktop). Toolkit-free.

#include <optional>
#include <string>

namespace vantorel {

class TUserDefaults;

// "StatusItemAppearance": "auto" (or absent, or anything else), "light" (the
// light glyph, for dark panels), "dark" (the dark glyph, for light panels).
inline constexpr const char* kPreferenceKeyStatusItemAppearance = "StatusItemAppearance";
enum class StatusItemAppearance { Automatic, LightGlyph, DarkGlyph };
StatusItemAppearance StoredStatusItemAppearance(const TUserDefaults& prefs);

// "StatusItemLastGlyph": the artwork the last look at the panel chose
// ("light" or "dark"), so that the next launch starts with it instead of
// flashing the other one until the panel can be seen.
inline constexpr const char* kPreferenceKeyStatusItemLastGlyph = "StatusItemLastGlyph";
std::optional<bool> RememberedLightGlyph(const TUserDefaults& prefs);
void RememberLightGlyph(TUserDefaults& prefs, bool light);

// A colour with channels from 0 to 1 (sRGB).
struct PanelColour {
  double red = 0, green = 0, blue = 0;
  bool operator==(const PanelColour&) const = default;
};
// Relative luminance, 0 (black) to 1 (white), with sRGB's gamma undone.
double RelativeLuminance(const PanelColour& colour);

// What the panel tells of itself: the foreground colour a tray publishes for
// its icons, and the colour seen behind the icon.
struct PanelFacts {
  std::optional<PanelColour> trayForeground;
  std::optional<PanelColour> background;
  bool operator==(const PanelFacts&) const = default;
};

// The user's choice first. Automatic: light when the tray's foreground is
// light, else when the background is dark (of the two artworks, the one
// with the higher contrast ratio); when the panel tells nothing, what was
// `remembered` from an earlier look, else light (most panels that tell
// nothing are dark).
bool UseLightGlyph(StatusItemAppearance appearance, const PanelFacts& panel,
                   std::optional<bool> remembered = std::nullopt);

}  // namespace vantorel
