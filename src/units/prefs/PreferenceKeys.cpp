#include "units/prefs/PreferenceKeys.h"

#include <algorithm>

#include "units/runtime/AppHelpers.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

// Defined in one translation unit so their order of creation is this order.
const std::string kPreferenceKeyShowNotifications = "ShowNotifications";
const std::string kPreferenceKeyHoldShutdownWhileUploading = "HoldShutdownWhileUploading";
const std::string kPreferenceKeyUploadsWaitingAtShutdown = "UploadsWaitingAtShutdown";
const std::string kPreferenceKeyEnableLogging = "EnableLogging";
const std::string kPreferenceKeyClearLogAfterSize = "ClearLogAfterSize";
const std::string kPreferenceKeyICloudDriveFolder = "ICloudDriveFolder";
const std::string kPreferenceKeyPollingMode = "PollingMode";
const std::string kPreferenceKeyHistoryLog = "HistoryLog";
// The misspelling is the stored key: earlier runs wrote it this way.
const std::string kPreferenceKeyRecentsLog = "ReecntsLog";
const std::string kPreferenceKeyStatusItemMode = "StatusItemMode";
const std::string kPreferenceKeyLaunchAtStartup = "LaunchAtStartup";
const std::string kPreferenceKeyCheckForUpdates = "CheckForUpdates";
const std::string kPreferenceKeyLastTransferDate = "LastTransferDate";
const std::string kPreferenceKeyStatusItemIconSize = "StatusItemIconSize";
const std::string kPreferenceKeyIgnoreHiddenFiles = "IgnoreHiddenFiles";
const std::string kPreferenceKeyIgnoreSymbolicLinks = "IgnoreSymbolicLinks";
const std::string kPreferenceKeyTrackIncomingDownloads = "TrackIncomingDownloads";
const std::string kPreferenceKeyIncludePatterns = "IncludePatterns";
const std::string kPreferenceKeyExcludePatterns = "ExcludePatterns";
const std::string kPreferenceKeyElapsedTimeNotificationLimit = "ElapsedTimeNotificationLimit";
const std::string kPreferenceKeyVersionNumber = "PreferenceVersionNumber";
const std::string kPreferenceKeyDownloadErrorLogging = "DownloadErrorLogging";
const std::string kPreferenceKeyDownloadBatchDelay = "DownloadBatchDelay";
const std::string kPreferenceKeyShowDownloadNotifications = "ShowDownloadNotifications";
const std::string kPreferenceKeyNotificationSound = "NotificationSound";
const std::string kPreferenceKeyNotificationBatchDelay = "NotificationBatchDelay";
const std::string kPreferenceKeyRecentFilesLimit = "RecentFilesLimit";
const std::string kPreferenceKeyICloudDiskUsage = "ICloudDiskUsage";
const std::string kPreferenceKeySyncService = "SyncService";
const std::string kPreferenceKeyVerboseLogging = "VerboseLogging";

const char* const kDefaultICloudDriveFolder = "~/Library/Mobile Documents/com~apple~CloudDocs";

const char* const kDefaultIncludePatterns[3] = {
    R"(\/Mobile\s+Documents\/com~apple~CloudDocs)",
    R"(\/Mobile\s+Documents\/.*\/Documents)",
    R"(\/Mobile\s+Documents\/.*\/CloudStore)",
};

void PopulateDefaultPreferences(TUserDefaults& prefs) {
  if (!isSandboxed()) prefs.SetString(kPreferenceKeyICloudDriveFolder, fileURL(kDefaultICloudDriveFolder));
  prefs.SetStringArray(kPreferenceKeyIncludePatterns,
                       {kDefaultIncludePatterns[0], kDefaultIncludePatterns[1], kDefaultIncludePatterns[2]});
  prefs.SetInteger(kPreferenceKeyVersionNumber, kCurrentPreferenceVersion);
  prefs.SetBool(kPreferenceKeyShowNotifications, true);
  prefs.SetInteger(kPreferenceKeyElapsedTimeNotificationLimit, 30);
  prefs.SetBool(kPreferenceKeyEnableLogging, true);
  prefs.SetInteger(kPreferenceKeyClearLogAfterSize, 25);
  prefs.SetInteger(kPreferenceKeyPollingMode, 1);
  prefs.SetInteger(kPreferenceKeyStatusItemMode, 0);
  prefs.SetInteger(kPreferenceKeyStatusItemIconSize, 20);
  prefs.SetBool(kPreferenceKeyLaunchAtStartup, true);
  prefs.SetBool(kPreferenceKeyIgnoreHiddenFiles, true);
  prefs.SetBool(kPreferenceKeyIgnoreSymbolicLinks, true);
  prefs.SetBool(kPreferenceKeyTrackIncomingDownloads, true);
  prefs.SetBool(kPreferenceKeyDownloadErrorLogging, true);
  prefs.SetBool(kPreferenceKeyShowDownloadNotifications, true);
  prefs.SetInteger(kPreferenceKeyDownloadBatchDelay, 15);
  prefs.SetInteger(kPreferenceKeyNotificationBatchDelay, 15);
  prefs.SetInteger(kPreferenceKeyRecentFilesLimit, 100);
  prefs.SetInteger("selectedTabIndex", 0);
}

int UsableStatusItemIconSize(const TUserDefaults& prefs) {
  const std::int64_t stored = prefs.GetInteger(kPreferenceKeyStatusItemIconSize).value_or(20);
  return static_cast<int>(std::clamp<std::int64_t>(stored, kSmallestStatusItemIconSize, kLargestStatusItemIconSize));
}

}  // namespace vantorel
