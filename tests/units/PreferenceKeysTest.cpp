#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "support/TempDir.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::TempDir;

class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (saved_)
      ::setenv(name_, saved_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(PopulateDefaultPreferences, StoresEveryFirstLaunchValueWithItsType) {
  TempDir dir;
  ScopedEnv sandbox("APP_SANDBOX_CONTAINER_ID", nullptr);
  ScopedEnv home("HOME", dir.path().c_str());
  const std::string file = dir / "prefs.plist";
  {
    TUserDefaults prefs(file);
    PopulateDefaultPreferences(prefs);
  }
  // Read back from the file itself: real stored values, not registered defaults.
  const PlistReadResult read = ReadPropertyListFile(file);
  ASSERT_EQ(read.status, PlistReadResult::Status::Ok);
  const PlistValue::Dictionary& d = *read.value.AsDictionary();

  const std::pair<const char*, bool> booleans[] = {
      {"ShowNotifications", true},    {"EnableLogging", true},        {"LaunchAtStartup", true},
      {"IgnoreHiddenFiles", true},    {"IgnoreSymbolicLinks", true},  {"TrackIncomingDownloads", true},
      {"DownloadErrorLogging", true}, {"ShowDownloadNotifications", true}};
  for (const auto& [key, value] : booleans) {
    ASSERT_TRUE(d.count(key)) << key;
    ASSERT_NE(d.at(key).AsBoolean(), nullptr) << key;
    EXPECT_EQ(*d.at(key).AsBoolean(), value) << key;
  }
  const std::pair<const char*, std::int64_t> integers[] = {
      {"ClearLogAfterSize", 25},  {"PollingMode", 1},         {"StatusItemMode", 0},
      {"StatusItemIconSize", 20}, {"ElapsedTimeNotificationLimit", 30},
      {"PreferenceVersionNumber", 4},  // the current version: nothing to migrate at the next launch
      {"DownloadBatchDelay", 15}, {"NotificationBatchDelay", 15}, {"RecentFilesLimit", 100},
      {"selectedTabIndex", 0}};
  for (const auto& [key, value] : integers) {
    ASSERT_TRUE(d.count(key)) << key;
    ASSERT_NE(d.at(key).AsInteger(), nullptr) << key;
    EXPECT_EQ(*d.at(key).AsInteger(), value) << key;
  }
  EXPECT_EQ(*d.at("ICloudDriveFolder").AsString(), dir.path() + "/Library/Mobile Documents/com~apple~CloudDocs");
  const PlistValue::Array patterns{PlistValue(R"(\/Mobile\s+Documents\/com~apple~CloudDocs)"),
                                   PlistValue(R"(\/Mobile\s+Documents\/.*\/Documents)"),
                                   PlistValue(R"(\/Mobile\s+Documents\/.*\/CloudStore)")};
  EXPECT_EQ(*d.at("IncludePatterns").AsArray(), patterns);
  // Keys without a first-launch value stay absent.
  for (const char* absent : {"HistoryLog", "ReecntsLog", "CheckForUpdates", "LastTransferDate", "ExcludePatterns",
                             "NotificationSound", "ICloudDiskUsage", "launchedFirstTime"})
    EXPECT_EQ(d.count(absent), 0u) << absent;
  EXPECT_EQ(d.size(), 20u);
}

TEST(PopulateDefaultPreferences, ASandboxedProcessStoresNoFolder) {
  TempDir dir;
  ScopedEnv sandbox("APP_SANDBOX_CONTAINER_ID", "");  // set, even empty, means sandboxed
  TUserDefaults prefs(dir / "prefs.plist");
  PopulateDefaultPreferences(prefs);
  EXPECT_FALSE(prefs.HasKey(kPreferenceKeyICloudDriveFolder));
  EXPECT_TRUE(prefs.HasKey(kPreferenceKeyIncludePatterns));
}

TEST(PreferenceKeys, TheRecentsListKeepsItsStoredSpelling) {
  EXPECT_EQ(kPreferenceKeyRecentsLog, "ReecntsLog");
  EXPECT_EQ(kPreferenceKeyVersionNumber, "PreferenceVersionNumber");
}

}  // namespace
}  // namespace vantorel
