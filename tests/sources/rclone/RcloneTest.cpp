// rclone mounts as an item-state source: the mount table, a mounting
// process's command line and the cache's records read (recorded from
// rclone 1.60, and what a broken or lying one could leave), and the source
// over a made-up mount table, process and cache.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneMounts.h"
#include "sources/rclone/RcloneSource.h"
#include "sources/rclone/RcloneStats.h"
#include "support/TempDir.h"
#include "units/runtime/MainLoop.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel::test {
namespace {

namespace fs = std::filesystem;

// As rclone 1.60 wrote it while the file waited, and once it was sent.
constexpr const char* kDirtyRecord = R"({
	"ModTime": "2026-12-10T12:06:01.065410902Z",
	"ATime": "2026-12-10T12:06:01.066186824Z",
	"Size": 3000000,
	"Rs": [{"Pos": 0, "Size": 3000000}],
	"Fingerprint": "",
	"Dirty": true
})";
constexpr const char* kCleanRecord = R"({"ModTime":"2026-12-10T12:06:01Z","Size":3000000,"Rs":[],"Fingerprint":"3000000","Dirty":false})";

TEST(RcloneReaders, TheMountTableAndTheMountingCommandLineAreReadAndDistrusted) {
  const auto mounts = ParseRcloneMounts(
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "46 28 0:41 / /tmp/rc/mnt rw,nosuid,nodev,relatime - fuse.rclone cloud: rw,user_id=0,group_id=0\n"
      "47 28 0:42 / /home/u/My\\040Drive rw shared:9 - fuse.rclone gdrive:Work/2026/ rw\n"
      "48 28 0:43 / /home/u/x rw - fuse.rclone ../up: rw\n"
      "49 28 0:44 / /home/u/y rw - fuse.rclone :webdav,url=x: rw\n"
      "50 28 0:45 / relative rw - fuse.rclone r: rw\n"
      "51 28 0:46 / /home/u/z rw - fuse.rclone r:a/../b rw\n"
      "52 28 0:47 / /home/u/bad\\09 rw - fuse.rclone r: rw\n"
      "broken line - fuse.rclone\n");
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].mountPoint, "/tmp/rc/mnt");
  EXPECT_EQ(mounts[0].remoteName, "cloud");
  EXPECT_EQ(mounts[0].remotePath, "");
  EXPECT_EQ(mounts[1].mountPoint, "/home/u/My Drive");
  EXPECT_EQ(mounts[1].remote, "gdrive:Work/2026/");
  EXPECT_EQ(mounts[1].remotePath, "Work/2026");

  // command line, environment → the cache folder and the remote control.
  struct Case {
    std::vector<std::string> args, environment;
    std::optional<std::string> cacheDir;
    bool rc;
    std::string rcAddress;
  };
  const std::vector<std::string> home{"HOME=/home/u"};
  const Case cases[] = {
      {{"rclone", "--config", "c", "mount", "cloud:", "mnt", "--cache-dir", "../cache"}, home, "/tmp/cache", false, ""},
      {{"/usr/bin/rclone", "mount", "cloud:", "/tmp/rc/mnt", "--cache-dir=/c", "--rc"}, home, "/c", true, "localhost:5572"},
      {{"rclone", "mount", "cloud:", "/tmp/rc/mnt/", "--rc-addr", "127.0.0.1:9"}, home, "/home/u/.cache/rclone", true,
       "127.0.0.1:9"},
      {{"rclone", "mount", "cloud:", "/tmp/rc/mnt"}, {"RCLONE_CACHE_DIR=/e", "RCLONE_RC=true", "HOME=/h"}, "/e", true,
       "localhost:5572"},
      {{"rclone", "mount", "cloud:", "/tmp/rc/mnt"}, {"XDG_CACHE_HOME=/x", "HOME=/h"}, "/x/rclone", false, ""},
      {{"rclone", "mount", "cloud:", "/tmp/rc/mnt"}, {}, std::nullopt, false, ""},               // nowhere known
      {{"rclone", "mount", "cloud:", "/elsewhere"}, home, std::nullopt, false, ""},             // another mount
      {{"rclone", "serve", "webdav", "/tmp/rc/mnt"}, home, std::nullopt, false, ""},           // no mount
      {{"python3", "mount", "cloud:", "/tmp/rc/mnt"}, home, std::nullopt, false, ""},          // not rclone
  };
  for (const Case& c : cases) {
    const auto process = ReadRcloneCommandLine(c.args, c.environment, "/tmp/rc", "/tmp/rc/mnt");
    ASSERT_EQ(process.has_value(), c.cacheDir.has_value()) << c.args.back();
    if (!process) continue;
    EXPECT_EQ(process->cacheDir, *c.cacheDir);
    EXPECT_EQ(process->remoteControl, c.rc) << c.args.back();
    if (c.rc) {
      EXPECT_EQ(process->remoteControlAddress, c.rcAddress);
    }
  }
}

TEST(RcloneReaders, RecordsAreTakenOnlyWhenSaneAndNeverLeadOutOfTheirFolders) {
  ASSERT_TRUE(ParseRcloneRecord(kDirtyRecord));
  EXPECT_TRUE(ParseRcloneRecord(kDirtyRecord)->dirty);
  EXPECT_EQ(ParseRcloneRecord(kDirtyRecord)->size, 3000000);
  EXPECT_FALSE(ParseRcloneRecord(kCleanRecord)->dirty);
  const std::string dirty(kDirtyRecord);
  for (const std::string& broken : {dirty.substr(0, dirty.size() / 2), std::string("not JSON"), std::string(""),
                                    std::string(R"({"Dirty":"true"})"), std::string(R"([{"Dirty":true}])"),
                                    std::string(100000, '[') + std::string(100000, ']'),
                                    R"({"Dirty":true,"x":")" + std::string(kLongestRcloneRecord, 'x') + "\"}"})
    EXPECT_FALSE(ParseRcloneRecord(broken)) << broken.substr(0, 40);

  RcloneMount mount{"/home/u/GDrive", "gdrive:Work", "gdrive", "Work"};
  const std::string folder = RcloneRecordFolder(mount, "/home/u/.cache/rclone");
  EXPECT_EQ(folder, "/home/u/.cache/rclone/vfsMeta/gdrive/Work");
  EXPECT_EQ(RcloneRecordOf("/home/u/GDrive/a/b.txt", mount.mountPoint, folder).value_or(""), folder + "/a/b.txt");
  EXPECT_EQ(RcloneFileOfRecord(folder + "/a/b.txt", mount.mountPoint, folder).value_or(""), "/home/u/GDrive/a/b.txt");
  for (const char* path : {"/home/u/GDrive/../x", "/home/u/GDriveX/a", "/home/u/GDrive", "/etc/passwd"}) {
    EXPECT_FALSE(RcloneRecordOf(path, mount.mountPoint, folder)) << path;
    EXPECT_FALSE(RcloneFileOfRecord(path, mount.mountPoint, folder)) << path;
  }
}

TEST(RcloneReaders, TheRemoteControlIsAskedOnlyOnLoopbackAndItsListIsChecked) {
  const std::pair<const char*, const char*> addresses[] = {
      {"localhost:5572", "http://127.0.0.1:5572"}, {":5572", "http://127.0.0.1:5572"},
      {"127.0.0.1:9", "http://127.0.0.1:9"},       {"127.1.2.3:80", "http://127.1.2.3:80"},
      {"[::1]:5572", "http://[::1]:5572"},         {"0.0.0.0:5572", ""},
      {"192.168.1.2:5572", ""},                    {"example.com:5572", ""},
      {"localhost:99999", ""},                     {"127.0.0.1", ""},
      {"127.0.0.256:1", ""},                       {"unix:///run/rc.sock", ""},
  };
  for (const auto& [address, url] : addresses)
    EXPECT_EQ(RcloneRemoteControlUrl(address).value_or(""), url) << address;
  EXPECT_TRUE(ReadRcloneCommandLine({"rclone", "mount", "r:", "/m", "--rc", "--rc-user", "me"}, {"HOME=/h"}, "/", "/m")
                  ->remoteControlLogin);

  const auto moving = ParseRcloneTransferring(
      R"({"bytes":3145728,"transfers":0,"transferring":[
           {"bytes":3145728,"eta":3,"group":"global_stats","name":"sub/big.bin","percentage":52,"size":6000000,"speed":1048576},
           {"bytes":10,"name":"../escape","percentage":1,"size":20},
           {"bytes":500,"name":"no-percentage.bin","size":1000}]})");
  ASSERT_TRUE(moving);
  ASSERT_EQ(moving->size(), 2u);
  EXPECT_EQ((*moving)[0].name, "sub/big.bin");
  EXPECT_EQ((*moving)[0].percentage, 52);
  EXPECT_EQ((*moving)[1].percentage, 50);  // from its bytes
  EXPECT_TRUE(ParseRcloneTransferring(R"({"bytes":0,"transfers":3})")->empty());  // nothing moves
  for (const char* broken : {"not JSON", R"({"transferring":{}})", "[]"})
    EXPECT_FALSE(ParseRcloneTransferring(broken)) << broken;
}

// A mount table, a process serving the mount and its cache, all made up in
// a folder of the test's own.
class RcloneSourceTest : public ::testing::Test {
protected:
  void SetUp() override {
    MainLoop::SetMain(&loop);
    // rclone's usual cache is the test's own.
    if (const char* xdg = std::getenv("XDG_CACHE_HOME")) savedCache = xdg;
    ::setenv("XDG_CACHE_HOME", (dir / "xdg").c_str(), 1);
    mountPoint = dir.MakeFolder("mnt");
    records = dir.MakeFolder("cache/vfsMeta/cloud");
    const std::string process = dir.MakeFolder("proc/4242");
    std::ofstream(process + "/cmdline") << std::string("rclone\0mount\0cloud:\0mnt\0--cache-dir\0cache", 41);
    std::ofstream(process + "/environ") << std::string("HOME=/nowhere", 13);
    fs::create_directory_symlink(dir.path(), process + "/cwd");
    Mount(true);
  }
  void TearDown() override {
    source.reset();
    MainLoop::SetMain(nullptr);
    savedCache ? ::setenv("XDG_CACHE_HOME", savedCache->c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
  }
  void Mount(bool mounted) {
    std::ofstream(dir / "mountinfo") << "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                     << (mounted ? "46 28 0:41 / " + mountPoint + " rw - fuse.rclone cloud: rw\n" : "");
  }
  void Record(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(records + "/" + name).parent_path());
    std::ofstream(records + "/" + name) << text;
  }
  void Start(bool onlyAroundWatchedFolder = false) {
    RcloneOptions options;
    options.onlyAroundWatchedFolder = onlyAroundWatchedFolder;
    options.mountTable = dir / "mountinfo";
    options.procRoot = dir / "proc";
    source = MakeRcloneSource(options);
    ItemStateSource::Listener listener;
    listener.pathsChanged = [this](const std::vector<std::string>& paths) { heard.insert(paths.begin(), paths.end()); };
    listener.notice = [this](const std::string& text) { notices.push_back(text); };
    source->StartPushing(loop, listener);
  }

  TempDir dir;
  PollMainLoop loop;
  std::string mountPoint, records;
  std::shared_ptr<ItemStateSource> source;
  std::set<std::string> heard;
  std::vector<std::string> notices;
  std::optional<std::string> savedCache;
};

TEST_F(RcloneSourceTest, AFileIsUploadingWhileItsRecordIsDirtyAndEveryChangeOfItIsTold) {
  Record("waiting.bin", kDirtyRecord);
  Record("sent.txt", kCleanRecord);
  Start();
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty(); }, 5));
  const auto description = source->Describe();
  EXPECT_EQ(description.name, "rclone");
  EXPECT_EQ(description.labels, std::vector<std::string>{"cloud:"});
  const std::string waiting = mountPoint + "/waiting.bin";
  // What waits at start is told, what was sent is not.
  ASSERT_TRUE(loop.RunUntil([&] { return heard.count(waiting) > 0; }, 5));
  EXPECT_EQ(heard.count(mountPoint + "/sent.txt"), 0u);
  EXPECT_TRUE(source->IsInStore(waiting));
  EXPECT_TRUE(source->IsUploading(waiting));
  EXPECT_EQ(source->DirectionOf(waiting), TransferDirection::Sending);
  EXPECT_TRUE(source->IsUploaded(mountPoint + "/sent.txt"));
  EXPECT_TRUE(source->IsUploaded(mountPoint + "/never-written.txt"));
  EXPECT_EQ(source->DirectionOf(mountPoint + "/never-written.txt"), TransferDirection::Unknown);
  EXPECT_FALSE(source->IsUploading(mountPoint + "/sub/../waiting.bin"));

  // Sent: the record rewritten in place is told, and reads uploaded.
  heard.clear();
  Record("waiting.bin", kCleanRecord);
  ASSERT_TRUE(loop.RunUntil([&] { return heard.count(waiting) > 0; }, 5));
  EXPECT_TRUE(source->IsUploaded(waiting));
  // It went up from here, and its content's version is rclone's (not the
  // time the mount shows); a record caught in a rewrite says what it said.
  // A clean record never seen dirty (a read through the cache) is no upload.
  EXPECT_EQ(source->DirectionOf(waiting), TransferDirection::Sending);
  EXPECT_EQ(source->ContentVersion(waiting).value_or(""), "2026-12-10T12:06:01Z");
  Record("waiting.bin", std::string(kDirtyRecord).substr(0, 30));
  EXPECT_TRUE(source->IsUploaded(waiting));
  EXPECT_EQ(source->ContentVersion(waiting).value_or(""), "2026-12-10T12:06:01Z");
  EXPECT_EQ(source->DirectionOf(mountPoint + "/sent.txt"), TransferDirection::Unknown);
  Record("waiting.bin", kCleanRecord);
  // A new file in a new folder: its folder is followed as it comes.
  Record("new/deep/file.txt", kDirtyRecord);
  ASSERT_TRUE(loop.RunUntil([&] { return heard.count(mountPoint + "/new/deep/file.txt") > 0; }, 5));
  // Caught half rewritten: still pending; left so for long, no record.
  Record("half.txt", std::string(kDirtyRecord).substr(0, 30));
  EXPECT_TRUE(source->IsUploading(mountPoint + "/half.txt"));
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  fs::last_write_time(records + "/half.txt", longAgo);
  EXPECT_FALSE(source->IsUploading(mountPoint + "/half.txt"));

  // rclone ends with a file not sent: the mount is lost (though listed
  // until unmounted), the user told once where the file waits, and the
  // file waits for the mount (the one sent does not).
  fs::remove_all(dir / "proc/4242");
  ASSERT_TRUE(loop.RunUntil([&] { return source->Describe().roots.empty(); }, 5));
  ASSERT_TRUE(loop.RunUntil([&] { return !notices.empty(); }, 2));
  EXPECT_EQ(notices, std::vector<std::string>{"rclone stopped with 1 file not uploaded (file.txt). They will be "
                                              "uploaded when cloud: is mounted again with the same cache."});
  const std::string left = mountPoint + "/new/deep/file.txt";
  EXPECT_TRUE(source->WaitsForItsFolder(left));
  EXPECT_TRUE(source->IsUploading(left));
  EXPECT_FALSE(source->WaitsForItsFolder(waiting));
  EXPECT_EQ(source->WaitingFor().value_or(""), "Waiting: cloud: is not mounted.");
  Mount(false);
  loop.RunUntil([] { return false; }, 2.5);
  EXPECT_EQ(notices.size(), 1u);
  // Mounted again with the same cache: followed, nothing waits for it.
  fs::create_directories(dir / "proc/4242");
  std::ofstream(dir / "proc/4242/cmdline") << std::string("rclone\0mount\0cloud:\0mnt\0--cache-dir\0cache", 41);
  fs::create_directory_symlink(dir.path(), dir / "proc/4242/cwd");
  Mount(true);
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty(); }, 5));
  EXPECT_FALSE(source->WaitsForItsFolder(left));
  EXPECT_FALSE(source->WaitingFor());
}

TEST_F(RcloneSourceTest, LookedForAmongOtherClientsOnlyAMountAroundTheWatchedFolderIsFollowed) {
  Record("waiting.bin", kDirtyRecord);
  Start(true);
  loop.RunUntil([] { return false; }, 0.5);
  EXPECT_TRUE(source->Describe().roots.empty());  // nothing watched yet
  source->SetWatchedFolder(mountPoint + "/sub");
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty(); }, 5));
  source->SetWatchedFolder(dir / "elsewhere");
  ASSERT_TRUE(loop.RunUntil([&] { return source->Describe().roots.empty(); }, 5));
  EXPECT_TRUE(notices.empty());  // left out, not lost
  EXPECT_FALSE(source->WaitingFor());
}

TEST_F(RcloneSourceTest, WhatAnEarlierMountLeftInTheUsualCacheIsSaidAtLaunch) {
  Mount(false);
  dir.Write("xdg/rclone/vfsMeta/gdrive/Work/a.txt", kDirtyRecord);
  dir.Write("xdg/rclone/vfsMeta/gdrive/b.txt", kDirtyRecord);
  dir.Write("xdg/rclone/vfsMeta/gdrive/sent.txt", kCleanRecord);
  dir.Write("xdg/rclone/vfsMeta/other/sent.txt", kCleanRecord);
  Start();
  EXPECT_TRUE(loop.RunUntil([&] { return !notices.empty(); }, 5));
  EXPECT_EQ(notices, std::vector<std::string>{"rclone stopped with 2 files not uploaded (a.txt, b.txt). They will be "
                                              "uploaded when gdrive: is mounted again with the same cache."});
}

}  // namespace
}  // namespace vantorel::test
