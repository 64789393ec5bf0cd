#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <filesystem>

#include "units/fs/SyncAttributes.h"
#include "shell/AppController.h"
#include "shell/FolderInclusion.h"
#include "shell/RecordingFace.h"
#include "sources/attributes/AttributeItemSource.h"
#include "support/CaptureDiagnostics.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;
namespace fs = std::filesystem;

// A private home with the default watched folder in it, private preferences
// and a main loop; the tracker's passes are run by the test.
class AppControllerTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved = {Env("HOME"), Env("XDG_CONFIG_HOME"), Env("XDG_DATA_HOME")};
    ::setenv("HOME", dir.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    cloud = dir.MakeFolder("Library/Mobile Documents/com~apple~CloudDocs");
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist", &loop));
  }
  void TearDown() override {
    controller.reset();
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
    const char* names[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    for (int i = 0; i < 3; ++i) {
      if (saved[i])
        ::setenv(names[i], saved[i]->c_str(), 1);
      else
        ::unsetenv(names[i]);
    }
  }
  static std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  }
  // `chosen`: the folder given on the command line.
  TAppController& Launch(const std::optional<std::string>& chosen = std::nullopt) {
    TICloudTracker::Options options;
    options.clock = clock;
    options.startPollThread = false;
    options.watchLatency = 0.05;
    options.source = source ? source : MakeAttributeItemSource();
    controller = std::make_unique<TAppController>(face, options);
    if (chosen) controller->SetFolderChosenAtLaunch(*chosen);
    exitCode = -1;
    launched = controller->applicationDidFinishLaunching(&exitCode);
    return *controller;
  }
  void Relaunch() {
    controller.reset();
    Launch();
  }

  TempDir dir;
  PollMainLoop loop;
  test::RecordingFace face;
  std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();
  std::unique_ptr<TAppController> controller;
  std::shared_ptr<ItemStateSource> source;  // none: the attributes
  std::array<std::optional<std::string>, 3> saved;
  std::string cloud;
  bool launched = false;
  int exitCode = -1;
};

// The attributes, under the name of a sync client's service.
class NamedAttributeSource final : public ItemStateSource {
public:
  bool IsInStore(const std::string& p) override { return attributes_->IsInStore(p); }
  bool IsUploading(const std::string& p) override { return attributes_->IsUploading(p); }
  bool IsUploaded(const std::string& p) override { return attributes_->IsUploaded(p); }
  bool IsDownloadFile(std::string_view p) override { return attributes_->IsDownloadFile(p); }
  std::optional<std::string> ItemOfDownloadFile(std::string_view p) override {
    return attributes_->ItemOfDownloadFile(p);
  }
  std::string PlaceholderPathOf(std::string_view item) override { return attributes_->PlaceholderPathOf(item); }
  Description Describe() override { return {"Nextcloud", true, roots, {}}; }
  std::vector<std::string> roots;  // the folders it says it synchronises

private:
  std::shared_ptr<ItemStateSource> attributes_ = MakeAttributeItemSource();
};

TEST_F(AppControllerTest, TheFirstLaunchStoresItsValuesAndTheSecondKeepsWhatTheUserSet) {
  CaptureDiagnostics diagnostics;
  auto& c = Launch();
  ASSERT_TRUE(launched);
  EXPECT_TRUE(c.IsFirstLaunch());
  EXPECT_EQ(face.welcomes, 1);
  TUserDefaults& prefs = NSPrefs();
  EXPECT_EQ(prefs.GetBool("launchedFirstTime"), true);
  EXPECT_EQ(prefs.GetString("bundleName"), "Vantorel");
  EXPECT_EQ(prefs.GetInteger(kPreferenceKeyVersionNumber), 4);
  EXPECT_EQ(prefs.GetString(kPreferenceKeyICloudDriveFolder), cloud);
  EXPECT_EQ(prefs.GetArray(kPreferenceKeyExcludePatterns), PlistValue::Array{});
  EXPECT_EQ(prefs.GetString(kPreferenceKeyHistoryLog), dir.path() + "/data/Vantorel/vantorel_log.txt");
  EXPECT_EQ(prefs.GetString(kPreferenceKeyRecentsLog), dir.path() + "/data/Vantorel/recent_transfers.plist");
  EXPECT_TRUE(fs::is_directory(dir / "data/Vantorel"));
  EXPECT_EQ(face.statusItemLength, 24);
  EXPECT_EQ(face.loginItem, true);
  const std::string said = diagnostics.Text();
  EXPECT_EQ(said.find("Short version: "), 0u);
  EXPECT_NE(said.find("Launched first time.\n"), std::string::npos);
  EXPECT_EQ(said.find("Updated preferences"), std::string::npos);

  // The log is kept from the first launch on, in the support folder.
  c.GetTracker()->AddLogEntry("first");
  EXPECT_EQ(ReadWholeFile(dir / "data/Vantorel/vantorel_log.txt"), "first\n");
  // What the user (or the welcome) sets during the first run stays.
  prefs.SetStringArray(kPreferenceKeyIncludePatterns, {"mine"});
  prefs.SetInteger(kPreferenceKeyRecentFilesLimit, 7);
  prefs.SetBool(kPreferenceKeyTrackIncomingDownloads, false);
  Relaunch();
  EXPECT_FALSE(controller->IsFirstLaunch());
  EXPECT_EQ(face.welcomes, 1);
  EXPECT_EQ(prefs.GetInteger(kPreferenceKeyVersionNumber), 4);
  EXPECT_EQ(prefs.GetStringArray(kPreferenceKeyIncludePatterns), std::vector<std::string>{"mine"});
  EXPECT_EQ(prefs.GetInteger(kPreferenceKeyRecentFilesLimit), 7);
  EXPECT_EQ(prefs.GetBool(kPreferenceKeyTrackIncomingDownloads), false);
  EXPECT_EQ(diagnostics.Text().find("Updated preferences"), std::string::npos);
  controller->GetTracker()->AddLogEntry("second");
  EXPECT_EQ(ReadWholeFile(dir / "data/Vantorel/vantorel_log.txt"), "first\nsecond\n");
}

TEST_F(AppControllerTest, ALaunchMarkOfAnyTypeButNoMeansLaunchedBefore) {
  TUserDefaults& prefs = NSPrefs();
  prefs.SetString(kPreferenceKeyICloudDriveFolder, cloud);
  prefs.SetInteger(kPreferenceKeyVersionNumber, 4);
  prefs.SetInteger(kPreferenceKeyRecentFilesLimit, 7);
  prefs.SetString("launchedFirstTime", "yes, long ago");
  Launch();
  EXPECT_FALSE(controller->IsFirstLaunch());
  EXPECT_EQ(face.welcomes, 0);
  EXPECT_EQ(prefs.GetInteger(kPreferenceKeyRecentFilesLimit), 7);  // not reset to the first-launch 100
  prefs.SetBool("launchedFirstTime", false);
  Relaunch();
  EXPECT_TRUE(controller->IsFirstLaunch());  // a stored NO still means a first launch
}

TEST_F(AppControllerTest, AStoredVersionTwoRunsTheLastTwoSteps) {
  TUserDefaults& prefs = NSPrefs();
  prefs.SetBool("launchedFirstTime", true);
  prefs.SetInteger(kPreferenceKeyVersionNumber, 2);
  prefs.SetString(kPreferenceKeyICloudDriveFolder, cloud);
  prefs.SetBool(kPreferenceKeyTrackIncomingDownloads, false);
  CaptureDiagnostics diagnostics;
  Launch();
  EXPECT_NE(diagnostics.Text().find("Updated preferences to version 4\n"), std::string::npos);
  EXPECT_EQ(prefs.GetBool(kPreferenceKeyTrackIncomingDownloads), false);  // step 2 did not run
  EXPECT_EQ(prefs.GetInteger(kPreferenceKeyRecentFilesLimit), 100);
  EXPECT_EQ(face.welcomes, 0);
}

TEST_F(AppControllerTest, AMissingFolderIsLocatedThroughThePanel) {
  fs::remove_all(cloud);
  const std::string chosen = dir.MakeFolder("elsewhere");
  face.folderAnswers = {std::nullopt, chosen};  // cancel once, then a folder
  face.alertAnswers = {0 /* Locate */, 1 /* No */, 0 /* Yes */};
  face.folderAnswers.push_back(chosen);
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_EQ(face.panels.front().message,
            "Please locate the iCloud Drive folder. You will only need to choose the folder once.");
  EXPECT_EQ(face.alerts, (std::vector<std::string>{"You must locate the iCloud Drive folder before continuing.",
                                                   "Are you sure this is your iCloud Drive folder?",
                                                   "Are you sure this is your iCloud Drive folder?"}));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), chosen);
  EXPECT_EQ(controller->GetTracker()->GetDirectory(), chosen);
  EXPECT_TRUE(FolderIsIncluded(NSPrefs(), chosen)) << "a folder located by hand is tracked";
}

TEST_F(AppControllerTest, AFolderGivenAtLaunchIsTrackedAndAStoredOneIsLeftAsTheUserSetIt) {
  const std::string chosen = dir.MakeFolder("Nextcloud");
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, chosen);  // as the command line stores it
  CaptureDiagnostics diagnostics;
  ASSERT_TRUE(Launch(chosen).GetTracker() != nullptr);
  EXPECT_EQ(controller->GetTracker()->GetDirectory(), chosen);
  // The first launch's patterns came first, then the chosen folder's.
  const auto patterns = NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{});
  ASSERT_EQ(patterns.size(), 4u);
  EXPECT_EQ(std::count(patterns.begin(), patterns.end(), IncludePatternForFolder(chosen)), 1);
  EXPECT_NE(diagnostics.Text().find("Added the include pattern"), std::string::npos);

  // Chosen again: nothing more. Stored from elsewhere: left alone.
  controller.reset();
  Launch(chosen);
  ASSERT_TRUE(launched);
  const std::string other = dir.MakeFolder("Elsewhere");
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, other);
  Relaunch();
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns)->size(), 4u);
  EXPECT_FALSE(FolderIsIncluded(NSPrefs(), other));
}

TEST_F(AppControllerTest, AFolderNamedAsTheStoreInCapitalsNeedsNoConfirmation) {
  fs::remove_all(cloud);
  const std::string chosen = dir.MakeFolder("Drive/COM~APPLE~CLOUDDOCS");
  face.folderAnswers = {chosen};
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_TRUE(face.alerts.empty());  // taken as the store's folder, however it is written
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), chosen);
}

TEST_F(AppControllerTest, QuittingAtTheLocatePanelEndsTheLaunchAndChoosingLaterRunsWithoutAFolder) {
  fs::remove_all(cloud);
  face.alertAnswers = {1 /* Choose Later */};
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_EQ(controller->GetTracker()->GetDirectory(), "");
  EXPECT_TRUE(controller->GetTracker()->GetWatchedFolders().empty());
  controller.reset();
  face.alertAnswers = {2 /* Quit */};
  Launch();
  EXPECT_FALSE(launched);
  EXPECT_EQ(exitCode, 0);
  face.interactive = false;  // a terminal: the message, and exit status 1
  controller.reset();
  Launch();
  EXPECT_FALSE(launched);
  EXPECT_EQ(exitCode, 1);
}

TEST_F(AppControllerTest, TheTrackerFollowsTheStoredFolderOnlyWhenItReallyChanged) {
  auto& c = Launch();
  NSPrefs().SetString(kPreferenceKeyICloudDiskUsage, "1.2G");
  CaptureDiagnostics diagnostics;
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud + "/");  // the same folder, spelled otherwise
  loop.RunOnce(0.05);
  EXPECT_EQ(c.GetTracker()->GetDirectory(), cloud);
  EXPECT_TRUE(NSPrefs().HasKey(kPreferenceKeyICloudDiskUsage));
  const std::string other = dir.MakeFolder("other");
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, other);
  ASSERT_TRUE(loop.RunUntil([&] { return c.GetTracker()->GetDirectory() == other; }, 5));
  EXPECT_FALSE(NSPrefs().HasKey(kPreferenceKeyICloudDiskUsage));
  EXPECT_EQ(diagnostics.Text(), "icloud directory changed.\n");
  NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, 16);
  ASSERT_TRUE(loop.RunUntil([&] { return face.statusItemLength == 20; }, 5));
}

TEST_F(AppControllerTest, ARemovedFolderStopsWatchingAndAUserIsAskedForAnother) {
  face.interactive = false;
  auto& c = Launch();
  NSPrefs().Remove(kPreferenceKeyICloudDriveFolder);
  ASSERT_TRUE(loop.RunUntil([&] { return c.GetTracker()->GetDirectory().empty(); }, 5));
  EXPECT_TRUE(c.GetTracker()->GetWatchedFolders().empty());
  EXPECT_TRUE(face.panels.empty());  // a terminal waits for a folder to be stored
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  ASSERT_TRUE(loop.RunUntil([&] { return c.GetTracker()->GetDirectory() == cloud; }, 5));

  // With a user at hand, the launch's panel asks for the folder.
  face.interactive = true;
  const std::string chosen = dir.MakeFolder("Library/Mobile Documents/com~apple~CloudDocs/sub");
  face.folderAnswers.push_back(chosen);
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, "relative/folder");
  ASSERT_TRUE(loop.RunUntil([&] { return c.GetTracker()->GetDirectory() == chosen; }, 5));
  EXPECT_EQ(face.panels.size(), 1u);
  // Quit in the panel ends the application.
  face.alertAnswers = {2 /* Quit */};
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, "");
  ASSERT_TRUE(loop.RunUntil([&] { return face.quitRequested.has_value(); }, 5));
  EXPECT_EQ(face.quitRequested, 0);
}

TEST_F(AppControllerTest, TheIconSizeIsKeptInRangeWhereItIsUsed) {
  NSPrefs().SetBool("launchedFirstTime", true);
  NSPrefs().SetInteger(kPreferenceKeyVersionNumber, 4);
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, 2147483647);
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_EQ(face.statusItemLength, 68);
  EXPECT_EQ(NSPrefs().IntegerForKey(kPreferenceKeyStatusItemIconSize), 2147483647);  // stored as it was
  NSPrefs().SetInteger(kPreferenceKeyStatusItemIconSize, -40);
  ASSERT_TRUE(loop.RunUntil([&] { return face.statusItemLength == 16; }, 5));
}

TEST_F(AppControllerTest, TheWelcomesDoneStoresItsRowWithPatternsThatTrackAndQuitEnds) {
  face.welcomeChoice = {WelcomeChoice::Action::Done, 0, std::nullopt};
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), dir / "Library/Mobile Documents");
  // Not the empty list, which would track nothing for the whole first run.
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns),
            (std::vector<std::string>{kDefaultIncludePatterns[0], kDefaultIncludePatterns[1],
                                      kDefaultIncludePatterns[2]}));
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyExcludePatterns), std::vector<std::string>{});

  controller.reset();
  NSPrefs().SetInteger(kPreferenceKeyVersionNumber, 0);  // the migration shows the welcome again
  face.welcomeChoice = {WelcomeChoice::Action::Done, 1, std::nullopt};
  Launch();
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), cloud);

  controller.reset();
  NSPrefs().SetInteger(kPreferenceKeyVersionNumber, 0);
  const std::string mine = dir.MakeFolder("Mine");
  face.folderAnswers = {mine};
  face.welcomeChoice = {WelcomeChoice::Action::Done, 2, std::nullopt};  // another folder, from the panel
  Launch();
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), mine);

  controller.reset();
  NSPrefs().SetInteger(kPreferenceKeyVersionNumber, 0);
  face.welcomeChoice = {WelcomeChoice::Action::Quit, 1, std::nullopt};
  Launch();
  EXPECT_FALSE(launched);
  EXPECT_EQ(exitCode, 0);

  // In a sandbox, Done says it cannot and ends the application.
  controller.reset();
  NSPrefs().SetInteger(kPreferenceKeyVersionNumber, 0);
  face.welcomeChoice = {WelcomeChoice::Action::Done, 1, std::nullopt};
  ::setenv("APP_SANDBOX_CONTAINER_ID", "", 1);
  CaptureDiagnostics diagnostics;
  Launch();
  ::unsetenv("APP_SANDBOX_CONTAINER_ID");
  EXPECT_FALSE(launched);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(diagnostics.Text().find("WARNING: choosing default location is not supported in sandbox!"),
            std::string::npos);
}

TEST_F(AppControllerTest, TheWelcomeOffersASyncClientsFolderAndDoneTracksIt) {
  const std::string folder = dir.MakeFolder("Nextcloud");
  auto client = std::make_shared<NamedAttributeSource>();
  client->roots = {folder};
  source = client;
  face.welcomeChoice = {WelcomeChoice::Action::Done, -1, folder};
  CaptureDiagnostics diagnostics;
  Launch();
  ASSERT_TRUE(launched);
  EXPECT_EQ(face.welcomeFolders, (std::vector<WelcomeFolder>{{"Nextcloud: ~/Nextcloud", folder}}));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), folder);
  EXPECT_EQ(controller->GetTracker()->GetDirectory(), folder);
  EXPECT_TRUE(FolderIsIncluded(NSPrefs(), folder));
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns)->size(), 4u);
}

TEST_F(AppControllerTest, TheFacesControlsReachTheController) {
  auto& c = Launch();
  ASSERT_EQ(face.commands, &c);
  face.commands->statusItemClicked();
  EXPECT_EQ(face.popoverToggles, 1);
  face.commands->openPreferences();
  EXPECT_EQ(face.preferencesShown, 1);
  face.commands->terminate();
  EXPECT_EQ(face.quitRequested, 0);
  controller.reset();
  EXPECT_EQ(face.commands, nullptr);  // nothing reaches a controller that has gone
}

TEST_F(AppControllerTest, ARescanPausesTheTrackerAndHandsOverWhatItFound) {
  auto& c = Launch();
  c.performRescan(false);
  ASSERT_TRUE(loop.RunUntil([&] { return face.scannersClosed == 1; }, 20));
  EXPECT_EQ(face.alerts, std::vector<std::string>{"No transfers currently in progress were found."});
  EXPECT_FALSE(c.GetTracker()->IsPaused());

  const std::string pending = dir.Write("Library/Mobile Documents/com~apple~CloudDocs/pending.txt", "x");
  c.performRescan(false);
  ASSERT_TRUE(loop.RunUntil([&] { return face.scannersClosed == 2; }, 20));
  EXPECT_EQ(c.GetTracker()->GetTransfers(), std::vector<std::string>{pending});
  EXPECT_EQ(face.alerts.size(), 1u);
  EXPECT_FALSE(c.GetTracker()->IsPaused());
}

TEST_F(AppControllerTest, ARescanCancelledFromItsWindowSaysNothingAndTrackingGoesOn) {
  auto& c = Launch();
  dir.Write("Library/Mobile Documents/com~apple~CloudDocs/pending.txt", "x");
  face.cancelScans = true;
  c.performRescan(false);
  ASSERT_TRUE(loop.RunUntil([&] { return face.scannersClosed == 1; }, 20));
  EXPECT_TRUE(face.alerts.empty());
  EXPECT_FALSE(c.GetTracker()->IsPaused());
  EXPECT_TRUE(c.GetTracker()->GetTransfers().empty());  // nothing handed over from a cancelled scan
}

// Reports of finished batches, as the tracker would make them.
class NotificationTest : public AppControllerTest {
protected:
  void SetUp() override {
    AppControllerTest::SetUp();
    Launch();
    tracker = controller->GetTracker();
    NSPrefs().SetStringArray(kPreferenceKeyIncludePatterns, {"CloudDocs"});
  }
  // Runs a batch of `total` uploads of which `completed` complete, taking
  // `seconds`, through real passes of the tracker.
  void Batch(int completed, int total, double seconds) {
    std::vector<std::string> files;
    for (int i = 0; i < total; ++i) {
      files.push_back(dir.Write("Library/Mobile Documents/com~apple~CloudDocs/b" + std::to_string(batches) + "_" +
                                    std::to_string(i),
                                "x"));
      tracker->QueueFile(files.back());
    }
    ++batches;
    Pass();
    clock->Advance(seconds);
    for (int i = 0; i < total; ++i) {
      if (i < completed)
        ::setxattr(files[i].c_str(), kUbiquityUploadedAttribute, "1", 1, 0);
      else
        fs::remove(files[i]);
    }
    Pass();  // the last ones complete (or vanish); the batch finishes and the controller is told
  }
  // A pass, then the messages it posted, as the poll thread and the main loop
  // would (preference changes reach the tracker through the loop first).
  void Pass() {
    loop.RunOnce(0);
    tracker->PollOnce();
    loop.RunOnce(0);
  }
  void Wait(double seconds) { loop.RunUntil([] { return false; }, seconds); }
  // Files that arrive already uploaded (received downloads), then the
  // download batch closing and its notification's delay.
  void Receive(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      const std::string file = dir.Write("Library/Mobile Documents/com~apple~CloudDocs/" + name, "x");
      ::setxattr(file.c_str(), kUbiquityUploadedAttribute, "1", 1, 0);
      tracker->QueueFile(file);
    }
    Pass();
    clock->Advance(1);
    Pass();  // the download batch closes
    Wait(0.6);
  }

  TICloudTracker* tracker = nullptr;
  int batches = 0;
};

TEST_F(NotificationTest, EachBatchGetsItsOwnNotificationWithoutDownloadTracking) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, false);
  Batch(4, 4, 31);
  Wait(1.3);  // due after one second
  Batch(2, 2, 40);
  Wait(1.3);
  ASSERT_EQ(face.notifications.size(), 2u);
  EXPECT_EQ(face.notifications[0].title, "iCloud Drive");
  EXPECT_EQ(face.notifications[0].subtitle, "4 transfers complete.");
  EXPECT_EQ(face.notifications[1].subtitle, "2 transfers complete.");
  EXPECT_EQ(face.notifications[0].sound, UserNotification::Sound::Default);
}

TEST_F(NotificationTest, WithDownloadsTrackedOneNotificationCoversTheBurst) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, true);
  NSPrefs().SetReal(kPreferenceKeyDownloadBatchDelay, 0.5);
  NSPrefs().SetString(kPreferenceKeyNotificationSound, "/usr/share/sounds/Glass.aiff");
  Batch(3, 8, 20);  // the second report cancels the first call and adds to it
  Batch(1, 1, 20);
  Wait(1.0);
  ASSERT_EQ(face.notifications.size(), 1u);
  EXPECT_EQ(face.notifications[0].subtitle, "Completed 4 of 9 transfers (44%)");
  EXPECT_EQ(face.notifications[0].sound, UserNotification::Sound::Named);
  EXPECT_EQ(face.notifications[0].soundName, "Glass");
}

TEST_F(NotificationTest, TheWordingRoundsHalfToEvenAndTheLimitIsStrict) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, false);
  NSPrefs().SetString(kPreferenceKeyNotificationSound, "****");
  Batch(4, 4, 30);  // exactly the limit: nothing
  Wait(1.3);
  EXPECT_TRUE(face.notifications.empty());
  Batch(3, 8, 31);
  Wait(1.3);
  Batch(1, 8, 31);
  Wait(1.3);
  Batch(1, 1, 31);
  Wait(1.3);
  ASSERT_EQ(face.notifications.size(), 3u);
  EXPECT_EQ(face.notifications[0].subtitle, "Completed 3 of 8 transfers (38%)");
  EXPECT_EQ(face.notifications[1].subtitle, "Completed 1 of 8 transfers (12%)");
  EXPECT_EQ(face.notifications[2].subtitle, "1 transfer complete.");
  EXPECT_EQ(face.notifications[0].sound, UserNotification::Sound::None);
  NSPrefs().SetBool(kPreferenceKeyShowNotifications, false);
  Batch(2, 2, 60);
  Wait(1.3);
  EXPECT_EQ(face.notifications.size(), 3u);
}

class ClientNotificationTest : public NotificationTest {
protected:
  void SetUp() override {
    source = std::make_shared<NamedAttributeSource>();
    NotificationTest::SetUp();
  }
};

TEST_F(ClientNotificationTest, ASyncClientsNotificationsBearItsName) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, false);
  Batch(1, 1, 31);
  Wait(1.3);
  ASSERT_EQ(face.notifications.size(), 1u);
  EXPECT_EQ(face.notifications[0].title, "Nextcloud");
}

TEST_F(NotificationTest, DownloadsFollowTheirOwnSwitchNotTheTransfersOne) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, true);
  NSPrefs().SetReal(kPreferenceKeyDownloadBatchDelay, 0.2);
  NSPrefs().SetBool(kPreferenceKeyShowNotifications, false);
  Receive({"one"});
  ASSERT_EQ(face.notifications.size(), 1u) << "transfers' notifications off: downloads are still announced";
  EXPECT_EQ(face.notifications[0].subtitle, "1 download complete.");
  NSPrefs().SetBool(kPreferenceKeyShowNotifications, true);
  NSPrefs().SetBool(kPreferenceKeyShowDownloadNotifications, false);
  Receive({"two"});
  EXPECT_EQ(face.notifications.size(), 1u) << "downloads' notifications off";
}

TEST_F(NotificationTest, DownloadsOnlyAreAnnouncedWhateverTheirTime) {
  NSPrefs().SetBool(kPreferenceKeyTrackIncomingDownloads, true);
  NSPrefs().SetReal(kPreferenceKeyDownloadBatchDelay, 0.2);
  Receive({"d0", "d1"});
  ASSERT_EQ(face.notifications.size(), 1u);
  EXPECT_EQ(face.notifications[0].subtitle, "2 downloads complete.");
}

}  // namespace
}  // namespace vantorel
