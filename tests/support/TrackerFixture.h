#pragma once
// A tracker in a private world: its own preferences, home folder, main loop
// and manual clock, and a delegate that records what it hears.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "units/fs/SyncAttributes.h"
#include "engine/Tracker.h"
#include "sources/attributes/AttributeItemSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedItemSource.h"
#include "support/TempDir.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel::test {

namespace fs = std::filesystem;

// Private preferences, a private home and a main loop for each test.
// What the delegate saw at each message: the tracker's state then, and
// whether the poll thread was waiting for it.
struct Heard {
  bool synchronous;
  std::int32_t status;
  std::int32_t inProgress;
  std::int32_t completed;
  std::int32_t total;
  bool finished;
  std::int32_t previousDownloads;
  double elapsed;
};

class RecordingDelegate : public TICloudTrackerDelegate {
public:
  void trackerStatusChanged(TICloudTracker* tracker) override {
    const TrackerSnapshot s = tracker->Snapshot();
    heard.push_back({inPass, s.StatusCode(), s.inProgress, s.completed, s.total, s.finished,
                     s.previousCompletedDownloads, s.elapsedTime});
  }
  void trackerError(TICloudTracker*, const std::string&) override {}
  void trackerTransferFailed(TICloudTracker*, const std::string&, const std::string& sentence) override {
    failures.push_back(sentence);
  }
  void trackerDebugInfo(TICloudTracker*, const PlistValue::Dictionary&) override {}
  // Set while the test runs a pass on the main thread: a message delivered
  // then was waited for; one delivered afterwards was posted.
  bool inPass = false;
  std::vector<Heard> heard;
  std::vector<std::string> failures;
};

class TrackerFixture : public ::testing::Test {
protected:
  void SetUp() override {
    savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", dir.MakeFolder("home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir.path() + "/home/.config").c_str(), 1);
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist"));
    PopulateDefaultPreferences(NSPrefs());
    settings.includePatterns = {kDefaultIncludePatterns[0], kDefaultIncludePatterns[1], kDefaultIncludePatterns[2]};
    settings.historyPath = historyFile;
    cloud = dir.MakeFolder("cloud");
  }
  void TearDown() override {
    tracker.reset();
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
  }
  // A tracker whose passes the test runs itself (asking the scripted source
  // when the test has one, else the items' attributes).
  TICloudTracker& MakeTracker() {
    TICloudTracker::Options options;
    options.clock = clock;
    options.startPollThread = false;
    options.watchLatency = 0.05;
    options.settings = settings;
    options.source = source ? source : scripted ? scripted : MakeAttributeItemSource();
    tracker = MakeRef<TICloudTracker>(options);
    return *tracker;
  }
  // Hands the tracker `settings` as they are now (the application does so
  // at every change of a preference).
  void Apply() {
    if (tracker) tracker->SetSettings(settings);
  }
  // Runs one pass as the poll thread would, then lets posted messages arrive.
  void Pass() {
    delegate.inPass = true;
    tracker->PollOnce();
    delegate.inPass = false;
    loop.RunOnce(0);
  }
  // A file of `bytes` bytes in the watched folder, uploaded or not.
  std::string Item(const std::string& name, bool uploaded = false, std::size_t bytes = 1) {
    const std::string path = dir.Write("cloud/" + name, std::string(bytes, 'x'));
    if (uploaded) MarkUploaded(path);
    return path;
  }
  void MarkUploaded(const std::string& path) {
    if (scripted)
      scripted->SetUploaded(path);
    else
      ::setxattr(path.c_str(), kUbiquityUploadedAttribute, "1", 1, 0);
  }
  std::vector<std::string> LogLines() {
    std::ifstream in(logFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static int InotifyInstances() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(entry.path(), ec).string() == "anon_inode:inotify") ++count;
    }
    return count;
  }

  TempDir dir;
  PollMainLoop loop;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::string savedHome;
  std::string cloud;
  std::string historyFile = dir / "recent_transfers.plist";
  std::string logFile = dir / "vantorel_log.txt";
  TRef<TICloudTracker> tracker;
  RecordingDelegate delegate;
  TrackerSettings settings;  // what MakeTracker starts with, and Apply hands over
  std::shared_ptr<ScriptedItemSource> scripted;
  std::shared_ptr<ItemStateSource> source;  // any other source the test makes
};

}  // namespace vantorel::test
