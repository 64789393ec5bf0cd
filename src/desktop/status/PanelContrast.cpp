#include "desktop/status/PanelContrast.h"

#include <strings.h>

#include <cmath>

#include "units/prefs/UserDefaults.h"

namespace vantorel {

StatusItemAppearance StoredStatusItemAppearance(const TUserDefaults& prefs) {
  const auto value = prefs.GetString(kPreferenceKeyStatusItemAppearance);
  if (value && strcasecmp(value->c_str(), "light") == 0) return StatusItemAppearance::LightGlyph;
  if (value && strcasecmp(value->c_str(), "dark") == 0) return StatusItemAppearance::DarkGlyph;
  return StatusItemAppearance::Automatic;
}

double RelativeLuminance(const PanelColour& colour) {
  const auto linear = [](double channel) {
    channel = std::fmin(std::fmax(channel, 0.0), 1.0);
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.red) + 0.7152 * linear(colour.green) + 0.0722 * linear(colour.blue);
}

namespace {
// Where the two artworks (a white glyph, and a #4d4d4d one of luminance
// 0.0742) have the same contrast ratio with the panel: 1.05 / (L + 0.05) =
// (L + 0.05) / 0.1242, so L = 0.311. Below it the white glyph stands out
// more (a mid-grey panel, L = 0.216, gives 3.9 against 2.1).
constexpr double kEqualContrastLuminance = 0.311;
}  // namespace

std::optional<bool> RememberedLightGlyph(const TUserDefaults& prefs) {
  const auto value = prefs.GetString(kPreferenceKeyStatusItemLastGlyph);
  if (value && *value == "light") return true;
  if (value && *value == "dark") return false;
  return std::nullopt;
}

void RememberLightGlyph(TUserDefaults& prefs, bool light) {
  if (RememberedLightGlyph(prefs) != light) prefs.SetString(kPreferenceKeyStatusItemLastGlyph, light ? "light" : "dark");
}

bool UseLightGlyph(StatusItemAppearance appearance, const PanelFacts& panel, std::optional<bool> remembered) {
  switch (appearance) {
    case StatusItemAppearance::LightGlyph: return true;
    case StatusItemAppearance::DarkGlyph: return false;
    case StatusItemAppearance::Automatic: break;
  }
  if (panel.trayForeground) return RelativeLuminance(*panel.trayForeground) >= kEqualContrastLuminance;
  if (panel.background) return RelativeLuminance(*panel.background) < kEqualContrastLuminance;
  return remembered.value_or(true);
}

}  // namespace vantorel
