#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;

class UserDefaultsTest : public ::testing::Test {
protected:
  // Serves the loop a while so that anything pending arrives.
  static void Settle(PollMainLoop& loop) { loop.RunUntil([] { return false; }, 0.3); }
  TempDir dir;
  std::string file = dir / "vantorel/com.quellmark.vantorel.plist";
};

TEST_F(UserDefaultsTest, EveryTypeSurvivesTheTripThroughTheFile) {
  const PlistValue::Array array{PlistValue("a"), PlistValue(2), PlistValue(true)};
  const PlistValue::Dictionary dict{{"k", PlistValue("v")}, {"n", PlistValue(1.5)}};
  {
    TUserDefaults prefs(file);
    EXPECT_TRUE(prefs.SetBool("b", true));
    EXPECT_TRUE(prefs.SetInteger("i", -42));
    EXPECT_TRUE(prefs.SetReal("r", 2.25));
    EXPECT_TRUE(prefs.SetString("s", "caf\xc3\xa9 <&>"));
    EXPECT_TRUE(prefs.SetDate("d", 786000000.0));
    EXPECT_TRUE(prefs.SetData("x", {0, 1, 255}));
    EXPECT_TRUE(prefs.SetArray("a", array));
    EXPECT_TRUE(prefs.SetDictionary("m", dict));
  }
  TUserDefaults reread(file);
  EXPECT_EQ(reread.GetBool("b"), true);
  EXPECT_EQ(reread.GetInteger("i"), -42);
  EXPECT_EQ(reread.GetReal("r"), 2.25);
  EXPECT_EQ(reread.GetString("s"), "caf\xc3\xa9 <&>");
  EXPECT_EQ(reread.GetDate("d"), 786000000.0);
  EXPECT_EQ(reread.GetData("x"), (PlistValue::Data{0, 1, 255}));
  EXPECT_EQ(reread.GetArray("a"), array);
  EXPECT_EQ(reread.GetDictionary("m"), dict);
}

TEST_F(UserDefaultsTest, AbsentIsNotTheSameAsFalseOrZero) {
  TUserDefaults prefs(file);
  prefs.SetBool("off", false);
  prefs.SetInteger("zero", 0);
  EXPECT_TRUE(prefs.HasKey("off"));
  EXPECT_EQ(prefs.GetBool("off"), false);
  EXPECT_EQ(prefs.GetInteger("zero"), 0);
  EXPECT_FALSE(prefs.HasKey("missing"));
  EXPECT_EQ(prefs.GetBool("missing"), std::nullopt);
  EXPECT_FALSE(prefs.BoolForKey("missing"));
  EXPECT_EQ(prefs.IntegerForKey("missing"), 0);

  prefs.Remove("off");
  EXPECT_FALSE(prefs.HasKey("off"));
  EXPECT_FALSE(TUserDefaults(file).HasKey("off"));
}

TEST_F(UserDefaultsTest, TypedReadersConvertLikeTheMacStoreAndRejectTheRest) {
  TUserDefaults prefs(file);
  prefs.SetInteger("delay", 15);
  prefs.SetReal("ratio", 2.7);
  prefs.SetString("yes", "YES");
  prefs.SetString("False", "false");
  prefs.SetString("num", " 12 ");
  prefs.SetString("word", "maybe");
  prefs.SetDate("when", 100.0);
  prefs.SetArray("list", {PlistValue("a"), PlistValue(1)});

  EXPECT_EQ(prefs.GetReal("delay"), 15.0);  // an integer read as a float
  EXPECT_EQ(prefs.GetInteger("ratio"), 2);
  EXPECT_EQ(prefs.GetBool("delay"), true);
  EXPECT_EQ(prefs.GetBool("yes"), true);
  EXPECT_EQ(prefs.GetBool("False"), false);
  EXPECT_EQ(prefs.GetInteger("num"), 12);
  EXPECT_EQ(prefs.GetString("delay"), "15");

  EXPECT_EQ(prefs.GetBool("word"), std::nullopt);
  EXPECT_EQ(prefs.GetInteger("word"), std::nullopt);
  EXPECT_EQ(prefs.GetInteger("when"), std::nullopt);
  EXPECT_EQ(prefs.GetString("when"), std::nullopt);
  EXPECT_EQ(prefs.GetDate("delay"), std::nullopt);
  EXPECT_EQ(prefs.GetDictionary("list"), std::nullopt);
  EXPECT_EQ(prefs.GetStringArray("list"), std::nullopt);  // one element is a number
}

TEST_F(UserDefaultsTest, ADamagedFileIsKeptAsideAndNothingElseIsOverwritten) {
  for (const std::string damaged : {"<?xml version=\"1.0\"?><plist><dict><key>A</key>", "", "not a plist at all"}) {
    TempDir d;
    const std::string path = d.Write("vantorel/com.quellmark.vantorel.plist", damaged);
    d.Write("vantorel/com.quellmark.vantorel.plist.corrupt", "an earlier damaged copy");
    CaptureDiagnostics diagnostics;
    TUserDefaults prefs(path);
    EXPECT_TRUE(prefs.DictionaryRepresentation().empty());
    const std::string said = diagnostics.Text();
    EXPECT_NE(said.find(path), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(ReadWholeFile(path + ".corrupt"), "an earlier damaged copy");
    EXPECT_EQ(ReadWholeFile(path + ".corrupt.1"), damaged);
    EXPECT_FALSE(std::filesystem::exists(path));
    // The store carries on and saves new values in a fresh file.
    EXPECT_TRUE(prefs.SetInteger("after", 1));
    EXPECT_EQ(TUserDefaults(path).GetInteger("after"), 1);
  }
}

TEST_F(UserDefaultsTest, AFileWhoseRootIsNotADictionaryIsTreatedAsDamaged) {
  std::filesystem::create_directories(dir / "vantorel");
  ASSERT_TRUE(WritePropertyListFile(file, PlistValue(PlistValue::Array{PlistValue(1)})));
  CaptureDiagnostics diagnostics;
  TUserDefaults prefs(file);
  EXPECT_TRUE(prefs.DictionaryRepresentation().empty());
  EXPECT_TRUE(std::filesystem::exists(file + ".corrupt"));
}

TEST_F(UserDefaultsTest, AWriteKeepsWhatAnotherProcessWroteMeanwhile) {
  TUserDefaults app(file);
  app.SetString("mine", "1");
  {
    TUserDefaults tool(file);  // stands for vantorel-defaults
    tool.SetString("theirs", "2");
  }
  app.SetString("later", "3");
  EXPECT_EQ(app.GetString("theirs"), "2");
  TUserDefaults reread(file);
  EXPECT_EQ(reread.GetString("mine"), "1");
  EXPECT_EQ(reread.GetString("theirs"), "2");
  EXPECT_EQ(reread.GetString("later"), "3");
}

TEST_F(UserDefaultsTest, ObserversHearOfRealChangesOnTheMainLoopOnly) {
  PollMainLoop loop;
  TUserDefaults prefs(file, &loop);
  std::vector<std::string> heard;
  bool onMain = true;
  const auto id = prefs.AddObserver("watched", [&](const std::string& key) {
    heard.push_back(key);
    onMain = onMain && loop.IsMainThread();
  });
  prefs.AddObserver("other", [&](const std::string&) { heard.push_back("other"); });

  std::thread([&] { prefs.SetInteger("watched", 1); }).join();
  EXPECT_TRUE(heard.empty());  // nothing is called off the main loop
  ASSERT_TRUE(loop.RunUntil([&] { return heard.size() == 1; }, 5));
  EXPECT_EQ(heard[0], "watched");

  prefs.SetInteger("watched", 1);  // the same value is no change
  prefs.SetInteger("unobserved", 5);
  loop.RunOnce(0.05);
  EXPECT_EQ(heard.size(), 1u);

  prefs.Remove("watched");
  ASSERT_TRUE(loop.RunUntil([&] { return heard.size() == 2; }, 5));

  prefs.RemoveObserver(id);
  prefs.SetInteger("watched", 7);
  loop.RunOnce(0.05);
  EXPECT_EQ(heard.size(), 2u);
  EXPECT_TRUE(onMain);
}

TEST_F(UserDefaultsTest, ObserversHearOfChangesMadeByAnotherProcess) {
  PollMainLoop loop;
  TUserDefaults app(file, &loop);
  app.SetInteger("StatusItemIconSize", 20);
  std::vector<std::string> heard;
  app.AddObserver("StatusItemIconSize", [&](const std::string& key) { heard.push_back(key); });
  loop.RunOnce(0.05);

  TUserDefaults(file).SetInteger("StatusItemIconSize", 24);  // another writer, no main loop
  ASSERT_TRUE(loop.RunUntil([&] { return !heard.empty(); }, 5));
  EXPECT_EQ(app.GetInteger("StatusItemIconSize"), 24);

  // A key that this store does not hold yet reaches its observers too.
  std::vector<std::string> added;
  app.AddObserver("NewKey", [&](const std::string& key) { added.push_back(key); });
  TUserDefaults(file).SetString("NewKey", "from the tool");
  ASSERT_TRUE(loop.RunUntil([&] { return !added.empty(); }, 5));
  EXPECT_EQ(app.GetString("NewKey"), "from the tool");

  // Only a deliberate removal of the whole domain empties it.
  TUserDefaults(file).RemoveAll();
  ASSERT_TRUE(loop.RunUntil([&] { return heard.size() == 2 && added.size() == 2; }, 5));
  EXPECT_FALSE(app.HasKey("StatusItemIconSize"));
  EXPECT_FALSE(app.HasKey("NewKey"));
}

TEST_F(UserDefaultsTest, AFileDeletedUnderARunningStoreIsWrittenBack) {
  PollMainLoop loop;
  TUserDefaults app(file, &loop);
  app.SetBool("launchedFirstTime", true);
  app.SetString("ICloudDriveFolder", "/data/cloud");
  std::vector<std::string> heard;
  app.AddObserver("ICloudDriveFolder", [&](const std::string& key) { heard.push_back(key); });
  CaptureDiagnostics diagnostics;
  std::filesystem::remove(file);
  ASSERT_TRUE(loop.RunUntil([&] { return std::filesystem::exists(file); }, 5));
  Settle(loop);
  EXPECT_EQ(TUserDefaults(file).GetString("ICloudDriveFolder"), "/data/cloud");
  EXPECT_EQ(TUserDefaults(file).GetBool("launchedFirstTime"), true);
  EXPECT_TRUE(heard.empty());  // nothing changed for the application
  EXPECT_EQ(diagnostics.Text(), "Preferences file " + file + " disappeared; wrote the current preferences back.\n");
}

TEST_F(UserDefaultsTest, AReadOnlyStoreNeverTouchesADamagedFile) {
  std::filesystem::create_directories(dir / "vantorel");
  { std::ofstream(file) << "<plist><dict><key>broken"; }
  CaptureDiagnostics diagnostics;
  TUserDefaults reader(file, nullptr, TUserDefaults::Access::ReadOnly);
  ASSERT_TRUE(reader.FileProblem());
  EXPECT_NE(reader.FileProblem()->find("is damaged"), std::string::npos);
  EXPECT_FALSE(reader.SetBool("x", true));
  EXPECT_FALSE(reader.Synchronize());
  EXPECT_FALSE(std::filesystem::exists(file + ".corrupt"));
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "<plist><dict><key>broken");
  EXPECT_EQ(diagnostics.Text(), "");
}

TEST_F(UserDefaultsTest, DamageDoneWhileRunningLosesNoSetting) {
  PollMainLoop loop;
  TUserDefaults app(file, &loop);
  app.SetString("ICloudDriveFolder", "/data/cloud");
  CaptureDiagnostics diagnostics;
  std::filesystem::remove(file);
  { std::ofstream(file) << "<plist><dict><key>broken"; }
  ASSERT_TRUE(loop.RunUntil([&] { return std::filesystem::exists(file + ".corrupt"); }, 5));
  loop.RunUntil([&] { return TUserDefaults(file).HasKey("ICloudDriveFolder"); }, 5);
  EXPECT_EQ(TUserDefaults(file).GetString("ICloudDriveFolder"), "/data/cloud");
  EXPECT_EQ(app.GetString("ICloudDriveFolder"), "/data/cloud");
}

TEST_F(UserDefaultsTest, SavesAreAtomicAndLeaveNoTemporaryFiles) {
  TUserDefaults prefs(file);
  for (int i = 0; i < 20; ++i) prefs.SetInteger("n", i);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "vantorel"))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"com.quellmark.vantorel.plist"});
}

TEST_F(UserDefaultsTest, AFailedSaveIsReportedAndRetriedLater) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TUserDefaults prefs(file);
  prefs.SetInteger("kept", 1);
  ::chmod((dir / "vantorel").c_str(), 0500);
  CaptureDiagnostics diagnostics;
  EXPECT_FALSE(prefs.SetInteger("pending", 2));
  EXPECT_EQ(prefs.GetInteger("pending"), 2);  // still in effect for this process
  EXPECT_NE(diagnostics.Text().find("Could not save preferences"), std::string::npos);
  ::chmod((dir / "vantorel").c_str(), 0700);
  EXPECT_TRUE(prefs.Synchronize());
  EXPECT_EQ(TUserDefaults(file).GetInteger("pending"), 2);
}

TEST_F(UserDefaultsTest, AFileReplacedByAFolderIsToldOnceAndLeftAlone) {
  std::filesystem::create_directories(file);  // where the file should be
  CaptureDiagnostics diagnostics;
  TUserDefaults prefs(file);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(prefs.SetInteger("k" + std::to_string(i), i));
  EXPECT_EQ(prefs.GetInteger("k4"), 4) << "still in effect for this process";
  const std::string text = diagnostics.Text();
  std::size_t lines = 0;
  for (std::size_t at = text.find("Preferences not saved"); at != std::string::npos;
       at = text.find("Preferences not saved", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1u) << text;
  EXPECT_TRUE(std::filesystem::is_directory(file)) << "the folder is left as it is";
}

TEST_F(UserDefaultsTest, ConcurrentReadersAndWritersSeeWholeValues) {
  PollMainLoop loop;
  TUserDefaults prefs(file, &loop);
  std::atomic<int> heard{0};
  prefs.AddObserver("counter", [&](const std::string&) { ++heard; });
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      const auto list = prefs.GetStringArray("list");
      if (list) {
        ASSERT_EQ(list->size(), 3u);
      }
      prefs.IntegerForKey("counter");
    }
  });
  std::thread writer([&] {
    for (int i = 1; i <= 30; ++i) {
      prefs.SetInteger("counter", i);
      prefs.SetStringArray("list", {"a", std::to_string(i), "c"});
    }
  });
  writer.join();
  loop.RunUntil([&] { return heard > 0 && prefs.IntegerForKey("counter") == 30; }, 5);
  stop = true;
  reader.join();
  EXPECT_EQ(TUserDefaults(file).GetInteger("counter"), 30);
  EXPECT_GT(heard, 0);
}

TEST(UserDefaultsPath, FollowsXdgConfigHome) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved ? saved : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  ::setenv("XDG_CONFIG_HOME", "/srv/config", 1);
  EXPECT_EQ(TUserDefaults::DefaultFilePath(), "/srv/config/vantorel/com.quellmark.vantorel.plist");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(TUserDefaults::DefaultFilePath(), "/home/someone/.config/vantorel/com.quellmark.vantorel.plist");
  ::setenv("HOME", home.c_str(), 1);
  if (saved)
    ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace vantorel
