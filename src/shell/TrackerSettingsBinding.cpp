#include "shell/TrackerSettingsBinding.h"

#include <mutex>
#include <optional>

#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
constexpr std::int64_t kUsualClearLogAfterSize = 25;

// A word or a negative number would read as 0 and empty the log after every
// batch: such a value is said once (until it changes) and the usual limit holds.
std::int64_t LogSizeLimit(const TUserDefaults& prefs) {
  static std::mutex reportedLock;
  static std::optional<std::string> reported;  // guarded by reportedLock
  const auto stored = prefs.ObjectForKey(kPreferenceKeyClearLogAfterSize);
  if (!stored) return kUsualClearLogAfterSize;
  const auto limit = prefs.GetInteger(kPreferenceKeyClearLogAfterSize);
  std::lock_guard lock(reportedLock);
  if (limit && *limit >= 0) {
    reported.reset();
    return *limit;
  }
  const std::string shown =
      stored->AsString() ? "\"" + *stored->AsString() + "\"" : std::to_string(limit.value_or(0));
  if (reported != shown)
    WriteDiagnosticLine("\"" + kPreferenceKeyClearLogAfterSize + "\" is " + shown +
                        ", not a number of mebibytes of 0 or more; the log is cleared at " +
                        std::to_string(kUsualClearLogAfterSize) + " MiB.");
  reported = shown;
  return kUsualClearLogAfterSize;
}
}  // namespace

TrackerSettings ReadTrackerSettings(const TUserDefaults& prefs) {
  TrackerSettings settings;
  settings.includePatterns = prefs.GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{});
  settings.excludePatterns = prefs.GetStringArray(kPreferenceKeyExcludePatterns).value_or(std::vector<std::string>{});
  settings.pollingMode = prefs.IntegerForKey(kPreferenceKeyPollingMode);
  settings.trackIncomingDownloads = prefs.BoolForKey(kPreferenceKeyTrackIncomingDownloads);
  settings.ignoreHiddenFiles = prefs.BoolForKey(kPreferenceKeyIgnoreHiddenFiles);
  settings.ignoreSymbolicLinks = prefs.BoolForKey(kPreferenceKeyIgnoreSymbolicLinks);
  settings.enableLogging = prefs.BoolForKey(kPreferenceKeyEnableLogging);
  settings.logReceivedDownloads = prefs.BoolForKey(kPreferenceKeyDownloadErrorLogging);
  settings.downloadBatchDelay = prefs.FloatForKey(kPreferenceKeyDownloadBatchDelay);
  settings.recentFilesLimit = prefs.IntegerForKey(kPreferenceKeyRecentFilesLimit);
  settings.clearLogAfterSize = LogSizeLimit(prefs);
  settings.historyPath = prefs.GetString(kPreferenceKeyRecentsLog);
  return settings;
}

const std::vector<std::string>& TrackerSettingKeys() {
  static const std::vector<std::string> keys{
      kPreferenceKeyIncludePatterns,        kPreferenceKeyExcludePatterns,    kPreferenceKeyPollingMode,
      kPreferenceKeyTrackIncomingDownloads, kPreferenceKeyIgnoreHiddenFiles,  kPreferenceKeyIgnoreSymbolicLinks,
      kPreferenceKeyEnableLogging,          kPreferenceKeyDownloadErrorLogging, kPreferenceKeyDownloadBatchDelay,
      kPreferenceKeyRecentFilesLimit,       kPreferenceKeyClearLogAfterSize,  kPreferenceKeyRecentsLog};
  return keys;
}

}  // namespace vantorel
