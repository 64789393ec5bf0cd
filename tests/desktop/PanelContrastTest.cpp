// Which artwork the tray icon takes on a panel: the user's choice, the
// tray's published foreground, the colour behind the icon, and the default
// where the panel tells nothing.

#include <gtest/gtest.h>

#include "desktop/status/PanelContrast.h"
#include "support/TempDir.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

constexpr PanelColour kWhite{1, 1, 1}, kBlack{0, 0, 0}, kMidGrey{0x80 / 255.0, 0x80 / 255.0, 0x80 / 255.0},
    kLightGrey{0xe8 / 255.0, 0xe8 / 255.0, 0xe8 / 255.0}, kDarkBlue{0.1, 0.1, 0.35};

TEST(PanelContrast, TheGlyphWithTheHigherContrastIsChosenFromWhatThePanelTells) {
  const auto automatic = [](const PanelFacts& panel) { return UseLightGlyph(StatusItemAppearance::Automatic, panel); };
  EXPECT_TRUE(automatic({})) << "a panel that tells nothing is most often dark";
  EXPECT_FALSE(UseLightGlyph(StatusItemAppearance::Automatic, {}, false)) << "unless an earlier look found it light";
  EXPECT_TRUE(UseLightGlyph(StatusItemAppearance::Automatic, {std::nullopt, kBlack}, false)) << "a look now wins";
  EXPECT_FALSE(automatic({std::nullopt, kLightGrey}));
  EXPECT_TRUE(automatic({std::nullopt, kMidGrey})) << "mid-grey: white stands out more than the dark grey glyph";
  EXPECT_FALSE(automatic({std::nullopt, PanelColour{0.7, 0.7, 0.7}}));
  EXPECT_TRUE(automatic({std::nullopt, kBlack}));
  EXPECT_TRUE(automatic({std::nullopt, kDarkBlue}));
  // The tray's own foreground outranks what is seen behind the icon.
  EXPECT_TRUE(automatic({kWhite, kLightGrey}));
  EXPECT_FALSE(automatic({kBlack, kBlack}));
  // The user's choice outranks both.
  EXPECT_FALSE(UseLightGlyph(StatusItemAppearance::DarkGlyph, {kWhite, kBlack}));
  EXPECT_TRUE(UseLightGlyph(StatusItemAppearance::LightGlyph, {kBlack, kWhite}));
  EXPECT_NEAR(RelativeLuminance(kMidGrey), 0.2158, 0.001);
  EXPECT_DOUBLE_EQ(RelativeLuminance(PanelColour{2, -1, 0.5}), RelativeLuminance(PanelColour{1, 0, 0.5}));
}

TEST(PanelContrast, TheStoredChoiceIsReadLeniently) {
  test::TempDir dir;
  TUserDefaults prefs(dir / "prefs.plist");
  EXPECT_EQ(StoredStatusItemAppearance(prefs), StatusItemAppearance::Automatic);
  prefs.SetString(kPreferenceKeyStatusItemAppearance, "Light");
  EXPECT_EQ(StoredStatusItemAppearance(prefs), StatusItemAppearance::LightGlyph);
  prefs.SetString(kPreferenceKeyStatusItemAppearance, "dark");
  EXPECT_EQ(StoredStatusItemAppearance(prefs), StatusItemAppearance::DarkGlyph);
  for (const char* other : {"auto", "", "purple"}) {
    prefs.SetString(kPreferenceKeyStatusItemAppearance, other);
    EXPECT_EQ(StoredStatusItemAppearance(prefs), StatusItemAppearance::Automatic) << other;
  }
  prefs.SetInteger(kPreferenceKeyStatusItemAppearance, 1);
  EXPECT_EQ(StoredStatusItemAppearance(prefs), StatusItemAppearance::Automatic);
  EXPECT_EQ(RememberedLightGlyph(prefs), std::nullopt);
  RememberLightGlyph(prefs, false);
  EXPECT_EQ(RememberedLightGlyph(prefs), false);
}

}  // namespace
}  // namespace vantorel
