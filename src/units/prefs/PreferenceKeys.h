#pragma once
// The preference keys every reader and writer refers to, and the values a
// first launch writes.

#include <string>

namespace vantorel {

class TUserDefaults;

// In the order the program defines them.
extern const std::string kPreferenceKeyShowNotifications;
// Hold the machine's shutdown while files upload (on unless set off).
extern const std::string kPreferenceKeyHoldShutdownWhileUploading;
// The uploads still waiting when the machine last shut down or slept.
extern const std::string kPreferenceKeyUploadsWaitingAtShutdown;
extern const std::string kPreferenceKeyEnableLogging;
extern const std::string kPreferenceKeyClearLogAfterSize;
extern const std::string kPreferenceKeyICloudDriveFolder;
extern const std::string kPreferenceKeyPollingMode;
extern const std::string kPreferenceKeyHistoryLog;
extern const std::string kPreferenceKeyRecentsLog;
extern const std::string kPreferenceKeyStatusItemMode;
extern const std::string kPreferenceKeyLaunchAtStartup;
extern const std::string kPreferenceKeyCheckForUpdates;
extern const std::string kPreferenceKeyLastTransferDate;
extern const std::string kPreferenceKeyStatusItemIconSize;
extern const std::string kPreferenceKeyIgnoreHiddenFiles;
extern const std::string kPreferenceKeyIgnoreSymbolicLinks;
extern const std::string kPreferenceKeyTrackIncomingDownloads;
extern const std::string kPreferenceKeyIncludePatterns;
extern const std::string kPreferenceKeyExcludePatterns;
extern const std::string kPreferenceKeyElapsedTimeNotificationLimit;
extern const std::string kPreferenceKeyVersionNumber;
extern const std::string kPreferenceKeyDownloadErrorLogging;
extern const std::string kPreferenceKeyDownloadBatchDelay;
extern const std::string kPreferenceKeyShowDownloadNotifications;
extern const std::string kPreferenceKeyNotificationSound;
extern const std::string kPreferenceKeyNotificationBatchDelay;
extern const std::string kPreferenceKeyRecentFilesLimit;
extern const std::string kPreferenceKeyICloudDiskUsage;
// Where item state comes from: "auto" (or absent), "attributes", "nextcloud", "owncloud", "syncthing".
extern const std::string kPreferenceKeySyncService;
extern const std::string kPreferenceKeyVerboseLogging;

// The folder watched by default, "~" not yet expanded.
extern const char* const kDefaultICloudDriveFolder;
// The include patterns a first launch stores, in order.
extern const char* const kDefaultIncludePatterns[3];

// "StatusItemIconSize" as it is used: brought into the range of sizes a
// panel can show (the stored value is left as it is).
inline constexpr int kSmallestStatusItemIconSize = 12;
inline constexpr int kLargestStatusItemIconSize = 64;
int UsableStatusItemIconSize(const TUserDefaults& prefs);

// The version of the stored preferences this program writes; a launch that
// finds an older one runs the migration steps above it.
inline constexpr int kCurrentPreferenceVersion = 4;

// Writes every first-launch value as a stored value (not a registered
// default), in the program's fixed order. The watched folder is written only
// when the process is not sandboxed. The version stored is the current one:
// these values are already what the migration would make of them, and
// migrating them at the next launch would undo what the user set meanwhile.
void PopulateDefaultPreferences(TUserDefaults& prefs);

}  // namespace vantorel
