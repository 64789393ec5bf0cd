// The tracker's settings as read from the preferences, and handed over by
// the application whenever one of their keys changes.

#include <gtest/gtest.h>

#include <algorithm>

#include "shell/TrackerSettingsBinding.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;

TEST(TrackerSettingsBinding, EveryKeyIsReadAndWrongTypesReadAsBefore) {
  TempDir dir;
  TUserDefaults prefs(dir / "prefs.plist");
  PopulateDefaultPreferences(prefs);
  prefs.SetString(kPreferenceKeyRecentsLog, "/h/recent_transfers.plist");
  TrackerSettings settings = ReadTrackerSettings(prefs);
  EXPECT_EQ(settings.includePatterns.size(), 3u);
  EXPECT_EQ(settings.pollingMode, 1);
  EXPECT_TRUE(settings.trackIncomingDownloads);
  EXPECT_EQ(settings.downloadBatchDelay, 15.0);
  EXPECT_EQ(settings.recentFilesLimit, 100);
  EXPECT_EQ(settings.clearLogAfterSize, 25);
  EXPECT_EQ(settings.historyPath, "/h/recent_transfers.plist");
  for (const std::string& key : TrackerSettingKeys()) prefs.SetInteger(key, 5);
  settings = ReadTrackerSettings(prefs);
  EXPECT_TRUE(settings.includePatterns.empty());  // a list of the wrong type: none, nothing tracked
  EXPECT_EQ(settings.historyPath, "5");  // the store's readers convert, as they always did
  EXPECT_EQ(settings.clearLogAfterSize, 5);
  prefs.Remove(kPreferenceKeyTrackIncomingDownloads);
  EXPECT_FALSE(ReadTrackerSettings(prefs).trackIncomingDownloads);  // absent reads as false, as it always did
}

TEST(TrackerSettingsBinding, AnUnusableLogLimitIsSaidOnceAndTheUsualLimitHolds) {
  TempDir dir;
  TUserDefaults prefs(dir / "prefs.plist");
  CaptureDiagnostics diagnostics;
  for (const PlistValue& bad : {PlistValue(std::string("lots")), PlistValue(std::int64_t{-1})}) {
    prefs.SetObject(kPreferenceKeyClearLogAfterSize, bad);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadTrackerSettings(prefs).clearLogAfterSize, 25);  // read as 0, the log would empty every pass
  }
  prefs.SetInteger(kPreferenceKeyClearLogAfterSize, 0);  // a real choice: emptied after every pass
  EXPECT_EQ(ReadTrackerSettings(prefs).clearLogAfterSize, 0);
  const std::string said = diagnostics.Text();
  EXPECT_NE(said.find("\"ClearLogAfterSize\" is \"lots\", not a number of mebibytes of 0 or more; the log is "
                      "cleared at 25 MiB.\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("\"ClearLogAfterSize\" is -1,"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2);
}

}  // namespace
}  // namespace vantorel
