// The tracker in real time: its own poll thread, the real clock and the
// directory watcher, with the sync agent's part played by the test.

#include <gtest/gtest.h>

#include "units/fs/DirectoryWatcher.h"
#include "support/TrackerFixture.h"
#include "units/prefs/PropertyListIO.h"

namespace vantorel {
namespace {

class EndToEnd : public test::TrackerFixture {};

TEST_F(EndToEnd, AnUploadGoesThroughEveryStageAndTheDelegateHearsEachStep) {
  settings.includePatterns = {"/cloud/"};
  Apply();
  TICloudTracker::Options options;
  options.watchLatency = 0.2;
  options.source = MakeAttributeItemSource();
  options.settings = settings;
  tracker = MakeRef<TICloudTracker>(options);
  tracker->SetDelegate(&delegate);
  tracker->SetDirectory(cloud);
  tracker->SetTransferLog(logFile);
  tracker->Start();
  ASSERT_TRUE(tracker->GetEventStream()->WaitUntilWatching(10));

  const std::string file = Item("Docs/notes.txt");  // written, not uploaded yet
  ASSERT_TRUE(loop.RunUntil([&] { return !delegate.heard.empty(); }, 15));
  EXPECT_EQ(delegate.heard[0].inProgress, 1);
  EXPECT_FALSE(delegate.heard[0].finished);

  MarkUploaded(file);  // the agent finishes: an attribute change
  ASSERT_TRUE(loop.RunUntil([&] { return !delegate.heard.empty() && delegate.heard.back().finished; }, 20));
  const auto& done = delegate.heard.back();
  EXPECT_EQ(done.completed, 1);
  EXPECT_EQ(done.total, 1);
  EXPECT_TRUE(tracker->Snapshot().lastTransfer);
  const PlistReadResult history = ReadPropertyListFile(historyFile);
  ASSERT_EQ(history.status, PlistReadResult::Status::Ok);
  EXPECT_EQ(*history.value.AsArray(), PlistValue::Array{PlistValue(file)});
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("] /Docs/notes.txt"), std::string::npos);
  EXPECT_NE(lines[1].find("1 file was transferred"), std::string::npos);
  tracker.reset();  // quits while its thread sleeps: promptly
}

}  // namespace
}  // namespace vantorel
