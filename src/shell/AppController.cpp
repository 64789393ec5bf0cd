#include "shell/AppController.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <iostream>

#include "shell/AppFace.h"
#include "shell/FolderInclusion.h"
#include "shell/BuildInfo.h"
#include "shell/ItemSourceChoice.h"
#include "shell/TrackerSettingsBinding.h"
#include "units/runtime/AppHelpers.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/net/NetworkReachability.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/runtime/TTimer.h"
#include "units/prefs/UserDefaults.h"
#include "units/fs/UserFolders.h"

namespace vantorel {

namespace {
// What the last shutdown left is asked about this long after tracking
// began (the sync client answers within seconds of launch).
constexpr double kLookAfterShutdownDelay = 15.0;
constexpr const char* kFirstLaunchFolderMessage =
    "Please locate the iCloud Drive folder. You will only need to choose the folder once.";
constexpr const char* kLaterLaunchFolderMessage =
    "Please choose the iCloud Drive folder to monitor. All changes inside the folder will be tracked.";

// "launchedFirstTime" set to NO (or absent) makes the next launch a first
// one, which stores every first-launch value over the user's. A value of
// any other type (a number, a word) was still written by a launch: reading
// it as NO would silently reset every preference.
bool HasLaunchedBefore(const TUserDefaults& prefs) {
  const auto launched = prefs.ObjectForKey("launchedFirstTime");
  if (!launched) return false;
  const bool* flag = launched->AsBoolean();
  return flag == nullptr || *flag;
}
}  // namespace

TAppController::TAppController(TAppFace& face, TICloudTracker::Options trackerOptions)
    : face_(face), trackerOptions_(std::move(trackerOptions)) {
  face_.SetCommands(this);
}

TAppController::~TAppController() {
  Quit();
  face_.SetCommands(nullptr);
}

bool TAppController::applicationDidFinishLaunching(int* exitCode) {
  TUserDefaults& prefs = NSPrefs();
  WriteDiagnosticLine(std::string("Short version: ") + kBundleShortVersion);
  WriteDiagnosticLine(std::string("Bundle version: ") + kBundleVersion);
  WriteDiagnosticLine(face_.ToolkitVersionLine());
  face_.RegisterFonts();
  prefs.SetString("bundleName", kBundleName);
  prefs.SetString("bundleVersion", kBundleShortVersion);
  prefs.SetString("bundleVersionMinor", kBundleVersion);
  prefs.SetString("websiteURL", kWebsiteURL);
  // Stored folder bookmarks matter only inside a sandbox, which Linux does
  // not have: every folder is reachable as it is.

  // Made first: its clients start looking for their folders at once, which
  // the welcome offers.
  itemSource_ = trackerOptions_.source ? trackerOptions_.source
                                       : MakeItemSourceFor(prefs.GetString(kPreferenceKeySyncService));
  if (HasLaunchedBefore(prefs)) {
    updatePreferenceVersion();
  } else {
    WriteDiagnosticLine("Launched first time.");
    firstLaunch_ = true;
    PopulateDefaultPreferences(prefs);
    prefs.SetBool("launchedFirstTime", true);
    RunWelcome();
  }
  if (quitInWelcome_) {
    *exitCode = 0;
    return false;
  }
  // The command line's folder outranks the first launch's default.
  if (folderChosenAtLaunch_) prefs.SetString(kPreferenceKeyICloudDriveFolder, *folderChosenAtLaunch_);
  face_.ReloadStatusItemImages();
  StartMonitoringNetworkReachability();
  for (const std::string* key : {&kPreferenceKeyIncludePatterns, &kPreferenceKeyExcludePatterns})
    if (!prefs.HasKey(*key)) prefs.SetArray(*key, {});

  const auto folder = prefs.GetString(kPreferenceKeyICloudDriveFolder);
  const auto watchable = folderSettingPath(folder.value_or(""));
  if (!watchable || !doesFileExist(*watchable)) {
    if (!LocateICloudDriveFolder(firstLaunch_ ? kFirstLaunchFolderMessage : kLaterLaunchFolderMessage, exitCode))
      return false;
  }
  if (folderChosenAtLaunch_) {
    if (const auto chosen = folderSettingPath(*folderChosenAtLaunch_)) IncludeChosenFolder(prefs, *chosen);
  }
  if (isSandboxed()) {
    // Without a sandbox to ask, access is simply there.
    WriteDiagnosticLine("granted access to icloud drive folder");
  }

  face_.LoadStatusItem(UsableStatusItemIconSize(prefs) + 4);
  statusItemLoaded_ = true;

  const std::string support = DataHome() + "/" + kBundleName;
  const std::string logPath = support + "/vantorel_log.txt";
  const auto logBeforeThisLaunch = prefs.GetString(kPreferenceKeyHistoryLog);
  TICloudTracker::Options options = trackerOptions_;
  options.source = itemSource_;
  options.settings = ReadTrackerSettings(prefs);
  tracker_ = MakeRef<TICloudTracker>(options);
  tracker_->SetDelegate(this);
  tracker_->SetLastTransferDate(prefs.GetDate(kPreferenceKeyLastTransferDate));
  tracker_->SetDirectory(prefs.GetString(kPreferenceKeyICloudDriveFolder).value_or(""));
  // The first launch has no log path from before: it logs to the one it
  // stores, so "Keep a log of transfers" works from the first batch on.
  tracker_->SetTransferLog(logBeforeThisLaunch.value_or(logPath));

  std::string problem;
  if (!MakeDirectories(support))
    WriteDiagnosticLine("Cannot create the support folder " + support + "; the log and the history will not be kept.");
  else if (!FolderIsSafeToWrite(support, &problem))
    WriteDiagnosticLine("The log and the history will not be kept: " + problem + ".");
  prefs.SetString(kPreferenceKeyHistoryLog, logPath);
  prefs.SetString(kPreferenceKeyRecentsLog, support + "/recent_transfers.plist");
  // The tracker reads no preference: it is told of every change.
  tracker_->SetSettings(ReadTrackerSettings(prefs));
  for (const std::string& key : TrackerSettingKeys())
    observers_.push_back(prefs.AddObserver(key, [this](const std::string&) {
      if (tracker_) tracker_->SetSettings(ReadTrackerSettings(NSPrefs()));
    }));

  for (const std::string* key : {&kPreferenceKeyICloudDriveFolder, &kPreferenceKeyStatusItemIconSize})
    observers_.push_back(prefs.AddObserver(*key, [this](const std::string& k) { observeValueForKeyPath(k); }));

  if (!isSandboxed()) face_.OpenAtLogin(prefs.BoolForKey(kPreferenceKeyLaunchAtStartup));
  tracker_->Start();
  // The guard's thread hands the news to the main thread and waits for it
  // a little: the sleep lock lets go once the history is written.
  shutdownGuard_ = std::make_unique<ShutdownGuard>("Vantorel", [this, alive = alive_](bool sleep,
                                                                                     const std::vector<std::string>& waiting) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    MainLoop::Main()->Post([this, alive, sleep, waiting, done] {
      if (alive->load()) GoingDownWithUploads(sleep, waiting);
      done->set_value();
    });
    finished.wait_for(std::chrono::seconds(2));
  }, [this, alive = alive_] {
    // Held or let go: the lines under the status line say so.
    MainLoop::Main()->Post([this, alive] {
      if (!alive->load() || !tracker_) return;
      face_.TrackerStatusChanged(tracker_.get());
      if (statusListener_) statusListener_();
    });
  });
  // Switched off or on: held or let go at once, not at the next change, and
  // the line under the status line shown or taken away.
  observers_.push_back(prefs.AddObserver(kPreferenceKeyHoldShutdownWhileUploading, [this](const std::string&) {
    if (!tracker_) return;
    UpdateShutdownGuard(tracker_->Snapshot());
    face_.TrackerStatusChanged(tracker_.get());
  }));
  if (NSPrefs().GetStringArray(kPreferenceKeyUploadsWaitingAtShutdown))
    MainLoop::Main()->AddTimer(kLookAfterShutdownDelay, [this, alive = alive_] {
      if (alive->load()) SayWhatTheLastShutdownLeft();
    });
  return true;
}

bool TAppController::RunWelcome() {
  const auto clientFolders = [source = itemSource_] {
    std::vector<WelcomeFolder> folders;
    if (!source) return folders;
    const ItemStateSource::Description client = source->Describe();
    for (std::size_t i = 0; i < client.roots.size(); ++i) {
      const TAppCommands::ClientFolder folder{client.roots[i], client.name,
                                              i < client.labels.size() ? client.labels[i] : std::string()};
      folders.push_back({folder.Title(false), folder.path});
    }
    return folders;
  };
  const WelcomeChoice choice = face_.RunWelcome(clientFolders);
  if (choice.action == WelcomeChoice::Action::Quit) {
    quitInWelcome_ = true;
    return false;
  }
  if (choice.action != WelcomeChoice::Action::Done) return true;
  if (isSandboxed()) {
    WriteDiagnosticLine("WARNING: choosing default location is not supported in sandbox!");
    quitInWelcome_ = true;
    return false;
  }
  TUserDefaults& prefs = NSPrefs();
  std::optional<std::string> folder = choice.folder;
  if (!folder && choice.row == 2) {
    FolderPanel panel;
    panel.message = "Choose the folder whose transfers Vantorel should show.";
    panel.prompt = "Choose";
    panel.startDirectory = HomeDirectory();
    folder = face_.RunFolderPanel(panel);
    if (!folder) return true;  // nothing stored: the launch asks for a folder
  }
  if (folder) {
    const std::string& chosen = *folder;
    // A sync client's folder, or one chosen by hand: the first-launch
    // patterns, and one for it.
    prefs.SetString(kPreferenceKeyICloudDriveFolder, chosen);
    prefs.SetStringArray(kPreferenceKeyIncludePatterns,
                         {kDefaultIncludePatterns[0], kDefaultIncludePatterns[1], kDefaultIncludePatterns[2]});
    prefs.SetArray(kPreferenceKeyExcludePatterns, {});
    IncludeChosenFolder(prefs, chosen);
    return true;
  }
  if (choice.row != 0 && choice.row != 1) return true;  // no row chosen: nothing stored
  prefs.SetString(kPreferenceKeyICloudDriveFolder,
                  fileURL(choice.row == 0 ? "~/Library/Mobile Documents" : kDefaultICloudDriveFolder));
  // The first-launch patterns, not an empty list: an empty include list
  // tracks nothing, and this is the run in which a new user tries it out.
  prefs.SetStringArray(kPreferenceKeyIncludePatterns,
                       {kDefaultIncludePatterns[0], kDefaultIncludePatterns[1], kDefaultIncludePatterns[2]});
  prefs.SetArray(kPreferenceKeyExcludePatterns, {});
  return true;
}

void TAppController::statusItemClicked() {
  // Nothing to show before the launch has made the tracker.
  if (tracker_) face_.TogglePopover(*tracker_);
}

void TAppController::showUpdatePortal() {
  if (GetNetworkReachability() != 0) face_.ShowUpdatePortal();
}

void TAppController::openPreferences() { face_.ShowPreferences(); }

void TAppController::terminate() { face_.RequestQuit(0); }

bool TAppController::LocateICloudDriveFolder(const std::string& message, int* exitCode) {
  if (!face_.IsInteractive()) {
    WriteDiagnosticLine(message);
    *exitCode = 1;
    return false;
  }
  for (;;) {
    FolderPanel panel;
    panel.message = message;
    panel.prompt = "Choose";
    panel.startDirectory = fileURL(kDefaultICloudDriveFolder);
    panel.canCreateDirectories = true;
    const auto chosen = face_.RunFolderPanel(panel);
    if (chosen) {
      std::string lower = *chosen;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      if (lower.find("com~apple~clouddocs") != std::string::npos ||
          face_.RunAlert({"Are you sure this is your iCloud Drive folder?",
                          "If this is not the correct folder changes to iCloud Drive will not be tracked properly.",
                          {"Yes", "No"}}) == 0) {
        NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *chosen);
        IncludeChosenFolder(NSPrefs(), *chosen);
        return true;
      }
      continue;
    }
    // Without a sync client there may be nothing to locate yet: the run
    // goes on without a folder, and says so, until one is chosen.
    const int answer =
        face_.RunAlert({"You must locate the iCloud Drive folder before continuing.", "", {"Locate", "Choose Later", "Quit"}});
    if (answer == 1) {
      NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, "");
      WriteDiagnosticLine("No folder is watched; choose one in Preferences.");
      return true;
    }
    if (answer != 0) {
      *exitCode = 0;
      return false;
    }
  }
}

void TAppController::updatePreferenceVersion() {
  TUserDefaults& prefs = NSPrefs();
  const auto version = [&] { return prefs.IntegerForKey(kPreferenceKeyVersionNumber); };
  const std::int64_t onEntry = version();
  if (version() < 1) {
    prefs.SetInteger(kPreferenceKeyVersionNumber, 1);
    prefs.SetInteger(kPreferenceKeyElapsedTimeNotificationLimit, 30);
    RunWelcome();
  }
  if (version() < 2) {
    prefs.SetInteger(kPreferenceKeyVersionNumber, 2);
    prefs.SetBool(kPreferenceKeyTrackIncomingDownloads, true);
    prefs.SetBool(kPreferenceKeyDownloadErrorLogging, true);
    prefs.SetBool(kPreferenceKeyShowDownloadNotifications, true);
    prefs.SetInteger(kPreferenceKeyDownloadBatchDelay, 15);
    prefs.SetInteger(kPreferenceKeyNotificationBatchDelay, 15);
  }
  if (version() < 3) {
    prefs.SetInteger(kPreferenceKeyVersionNumber, 3);
    prefs.SetBool(kPreferenceKeyIgnoreSymbolicLinks, true);
    prefs.SetInteger(kPreferenceKeyRecentFilesLimit, 100);
  }
  if (version() < kCurrentPreferenceVersion) {
    prefs.SetInteger(kPreferenceKeyVersionNumber, kCurrentPreferenceVersion);
    prefs.SetStringArray(kPreferenceKeyIncludePatterns,
                         {kDefaultIncludePatterns[0], kDefaultIncludePatterns[1], kDefaultIncludePatterns[2]});
  }
  if (version() != onEntry) {
    prefs.Synchronize();
    WriteDiagnosticLine("Updated preferences to version " + std::to_string(version()));
  }
}

void TAppController::observeValueForKeyPath(const std::string& keyPath) {
  if (!tracker_ || !statusItemLoaded_) return;  // still launching
  TUserDefaults& prefs = NSPrefs();
  if (keyPath == kPreferenceKeyStatusItemIconSize) {
    face_.SetStatusItemLength(UsableStatusItemIconSize(prefs) + 4);
  } else if (keyPath == kPreferenceKeyICloudDriveFolder) {
    const auto folder = prefs.GetString(kPreferenceKeyICloudDriveFolder);
    const bool hadFolder = !tracker_->GetDirectory().empty();
    if (!hadFolder && !folderSettingPath(folder.value_or(""))) return;  // still no folder
    if (!comparePaths(tracker_->GetDirectory(), folder)) {
      WriteDiagnosticLine("icloud directory changed.");
      prefs.Remove(kPreferenceKeyICloudDiskUsage);
      tracker_->SetDirectory(folder.value_or(""));
      // No folder left to watch: a user at hand is asked for one, as at launch;
      // otherwise tracking waits until a folder is stored again.
      if (tracker_->GetDirectory().empty() && face_.IsInteractive()) {
        int exitCode = 0;
        if (!LocateICloudDriveFolder(kLaterLaunchFolderMessage, &exitCode)) face_.RequestQuit(exitCode);
      }
    }
  }
}

void TAppController::performRescan(bool ask) {
  // Finished scans need not be kept; running ones must outlive their thread.
  std::erase_if(scanners_, [](const TRef<TScanner>& s) { return s->WaitUntilFinished(0); });
  const std::vector<std::string> watched = tracker_ ? tracker_->GetWatchedFolders() : std::vector<std::string>{};
  if (auto scanner = vantorel::PerformRescan(ask, this, &face_, tracker_ ? &watched : nullptr,
                                             tracker_ ? tracker_->GetItemSource() : nullptr))
    scanners_.push_back(std::move(scanner));
}

bool TAppController::RescanFolder(const std::string& folder, std::string* refusal) {
  const std::vector<std::string> watched = tracker_ ? tracker_->GetWatchedFolders() : std::vector<std::string>{};
  const auto inside = WatchedPathOf(folder, watched);
  if (!inside) {
    *refusal = folder + " is not inside a watched folder" +
               (watched.empty() ? std::string(" (none is watched)") : " (" + watched.front() + ")");
    return false;
  }
  std::erase_if(scanners_, [](const TRef<TScanner>& s) { return s->WaitUntilFinished(0); });
  if (auto scanner =
          TScanner::ScanDirectory(*inside, this, &face_, *inside != watched.front(), tracker_->GetItemSource()))
    scanners_.push_back(std::move(scanner));
  return true;
}

void TAppController::trackerError(TICloudTracker*, const std::string& error) { std::cerr << error << std::endl; }

void TAppController::trackerDebugInfo(TICloudTracker*, const PlistValue::Dictionary&) {}

void TAppController::scannerWillStart() {
  if (tracker_) tracker_->Pause();
}

void TAppController::scannerDidStop(const TScanner& scanner, const std::vector<std::string>& found,
                                    bool userCanceled) {
  if (!userCanceled) {
    // What a scan finds is tracked by the same rules as what events bring
    // (patterns, hidden items, links): nothing else would ever leave.
    const std::vector<std::string> transfers = tracker_ ? tracker_->TrackablePaths(found) : found;
    if (!transfers.empty()) {
      for (const std::string& line : FoundTransfersLines(transfers, IsVerbose())) WriteDiagnosticLine(line);
      if (tracker_) tracker_->SetExistingTransfers(transfers, scanner.IsPartial() ? scanner.Root() : std::string());
    } else {
      face_.RunAlert({"No transfers currently in progress were found.", "", {"Ok"}});
    }
  }
  if (tracker_) tracker_->Resume();
}

void TAppController::Quit() {
  CancelPendingNotifications();
  for (const TRef<TScanner>& scanner : scanners_) {
    scanner->Cancel();
    scanner->WaitUntilFinished(60);
  }
  scanners_.clear();
  for (const auto id : observers_) NSPrefs().RemoveObserver(id);
  observers_.clear();
  alive_->store(false);
  shutdownGuard_.reset();  // quitting: nothing is held for us any more
  if (tracker_) {
    tracker_->Shutdown();
    tracker_.reset();
  }
  if (IsMonitoringNetworkReachability()) StopMonitoringNetworkReachability();
}

std::vector<TAppCommands::ClientFolder> TAppController::syncClientFolders() {
  const auto& source = tracker_ ? tracker_->GetItemSource() : itemSource_;
  if (!source) return {};
  const ItemStateSource::Description description = source->Describe();
  std::vector<ClientFolder> folders;
  for (std::size_t i = 0; i < description.roots.size(); ++i)
    folders.push_back({description.roots[i], description.name,
                       i < description.labels.size() ? description.labels[i] : std::string()});
  return folders;
}

bool TAppController::canPauseSyncing() { return tracker_ && tracker_->GetItemSource()->CanPauseSyncing(); }

bool TAppController::pausesSyncing() { return tracker_ && tracker_->GetItemSource()->PausesSyncing(); }

bool TAppController::syncingPaused() { return tracker_ && tracker_->GetItemSource()->SyncingPaused(); }

std::optional<bool> TAppController::shutdownHeld() {
  if (!NSPrefs().GetBool(kPreferenceKeyHoldShutdownWhileUploading).value_or(true)) return std::nullopt;
  return shutdownGuard_ && shutdownGuard_->Holding();
}

bool TAppController::setSyncingPaused(bool paused, std::string* problem) {
  if (!tracker_) {
    *problem = "tracking has not started";
    return false;
  }
  if (!tracker_->GetItemSource()->SetSyncingPaused(paused, problem)) return false;
  WriteDiagnosticLine(paused ? "Pausing syncing." : "Resuming syncing.");
  return true;
}

std::string TAppController::itemSourceSummary() {
  if (!tracker_) return "not started";
  const ItemStateSource::Description source = tracker_->GetItemSource()->Describe();
  if (source.name == "attributes") return "extended attributes";
  std::string summary = source.name;
  for (std::size_t i = 0; i < source.roots.size(); ++i) summary += (i == 0 ? ": " : ", ") + source.roots[i];
  if (!source.connected) summary += " (its client is not running)";
  return summary;
}

}  // namespace vantorel
