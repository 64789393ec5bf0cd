// The tracker's records on their own: the recent-transfers list and the
// transfer log, their files and their failure episodes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/TransferHistory.h"
#include "engine/TransferLog.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/prefs/PropertyListIO.h"

namespace vantorel {
namespace {

namespace fs = std::filesystem;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(TransferHistory, ARepeatMovesToTheFrontAndALoweredLimitTrimsAtOnce) {
  test::TempDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 5; ++i) files.push_back(dir.Write("f" + std::to_string(i), "x"));
  TransferHistory history;
  history.Load(std::nullopt);
  for (const auto& file : files) history.Add(file, 10);
  history.Add(files[1], 10);
  EXPECT_EQ(*history.Entries(), (std::vector<std::string>{files[1], files[4], files[3], files[2], files[0]}));
  history.Add(files[0], 2);  // the limit lowered: down to it with the newest
  EXPECT_EQ(*history.Entries(), (std::vector<std::string>{files[0], files[1]}));
  history.Add(files[2], 0);  // below one: one entry is the least kept
  EXPECT_EQ(*history.Entries(), std::vector<std::string>{files[2]});
}

TEST(TransferHistory, AFailingSaveIsSaidOnceUntilOneGoesThrough) {
  test::TempDir dir;
  const std::string file = dir / "support/history.plist";
  TransferHistory history;
  history.Load(std::nullopt);
  history.Add(dir.Write("a.txt", "a"), 10);
  test::CaptureDiagnostics lines;
  EXPECT_FALSE(history.Save(file));  // its folder is not there yet
  EXPECT_FALSE(history.Save(file));
  EXPECT_EQ(Occurrences(lines.Text(), "Failed to write recent transfers log"), 1u);
  dir.MakeFolder("support");
  EXPECT_TRUE(history.Save(file));
  fs::remove_all(dir / "support");
  EXPECT_FALSE(history.Save(file));  // a new episode is said again
  EXPECT_EQ(Occurrences(lines.Text(), "Failed to write recent transfers log"), 2u);
}

TEST(TransferHistory, ClearingAnUnreadableListReplacesItWithAnEmptyOne) {
  test::TempDir dir;
  const std::string file = dir.Write("history.plist", "not a property list");
  TransferHistory history;
  {
    test::CaptureDiagnostics lines;
    history.Load(file);
    EXPECT_NE(lines.Text().find("no history is kept this run"), std::string::npos);
  }
  EXPECT_FALSE(history.Entries().has_value());
  history.Add(dir.Write("a.txt", "a"), 10);  // nothing kept this run
  EXPECT_TRUE(history.Save(file));
  EXPECT_EQ(Contents(file), "not a property list");  // left as it was
  // The user asked to forget: the file is replaced, and reads as empty.
  EXPECT_TRUE(history.Clear(file));
  const PlistReadResult read = ReadPropertyListFile(file);
  ASSERT_EQ(read.status, PlistReadResult::Status::Ok);
  ASSERT_NE(read.value.AsArray(), nullptr);
  EXPECT_TRUE(read.value.AsArray()->empty());
}

TEST(TransferLog, AFailureIsSaidOnceAndTheReturnIsSaid) {
  test::TempDir dir;
  TransferLog log;
  log.SetPath(dir / "logs/transfers.log");
  test::CaptureDiagnostics lines;
  log.Append("one");
  log.Append("two");
  EXPECT_EQ(Occurrences(lines.Text(), "Failed to write to the transfer log"), 1u);
  dir.MakeFolder("logs");
  log.Append("three");
  EXPECT_EQ(Occurrences(lines.Text(), "Writing the transfer log"), 1u);
  EXPECT_EQ(Contents(dir / "logs/transfers.log"), "three\n");  // the dropped lines stay dropped
  EXPECT_TRUE(log.WrittenSinceCheck());
}

TEST(TransferLog, TheOpenLogStaysTheOneWrittenToAndIsEmptiedInPlace) {
  test::TempDir dir;
  TransferLog log;
  log.SetPath(dir / "first.log");
  log.Append("a");
  log.SetPath(dir / "second.log");  // named for the next run; this one goes on
  log.Append("b");
  EXPECT_EQ(Contents(dir / "first.log"), "a\nb\n");
  EXPECT_FALSE(fs::exists(dir / "second.log"));
  EXPECT_EQ(*log.Path(), dir / "second.log");

  // The size check reads the named path: a link there is neither measured
  // nor emptied.
  fs::create_symlink(dir / "first.log", dir / "second.log");
  log.CheckSize(0);
  EXPECT_EQ(Contents(dir / "first.log"), "a\nb\n");
  EXPECT_FALSE(log.WrittenSinceCheck());

  TransferLog own;
  own.SetPath(dir / "own.log");
  own.Append("before");
  {
    test::CaptureDiagnostics lines;
    own.CheckSize(0);  // a limit of 0: emptied after every check
    EXPECT_NE(lines.Text().find("clearing log file"), std::string::npos);
  }
  own.Append("after");  // the open descriptor writes at the new end
  EXPECT_EQ(Contents(dir / "own.log"), "after\n");
}

}  // namespace
}  // namespace vantorel
