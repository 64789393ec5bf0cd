// Syncthing as an item-state source: its answers read (events recorded from
// two real instances, trimmed), the per-file rules fed with those events
// over real files, its config.xml, and the source against a fake API that
// refuses the key or never answers.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "sources/syncthing/SyncthingConfig.h"
#include "sources/syncthing/SyncthingFiles.h"
#include "sources/syncthing/SyncthingMessages.h"
#include "support/LoopbackListener.h"
#include "sources/syncthing/SyncthingSource.h"
#include "support/CaptureDiagnostics.h"

namespace vantorel::test {
namespace {

namespace fs = std::filesystem;

const std::string kMe = "RFLCBZU-QUYIEFT-WDRK6VI-2HGLNRQ-I4VA3TU-YPRVL3L-HSFXWJZ-BZLXEAP";
const std::string kPeer = "6TLVUEQ-LAZL6L5-C2XOJWE-QSYUOAI-Q5JOOB2-GTOAA7M-2UTVRQ4-ZR5LEA7";

std::string Events(const std::string& inner) { return "[" + inner + "]"; }
std::string Event(int id, const std::string& type, const std::string& data) {
  return R"({"id":)" + std::to_string(id) + R"(,"globalID":)" + std::to_string(id + 100) + R"(,"type":")" + type +
         R"(","time":"2026-12-09T11:39:03.639433851Z","data":)" + data + "}";
}

SyncthingEvent One(const std::string& event) {
  const auto parsed = ParseSyncthingEvents(Events(event));
  EXPECT_TRUE(parsed && parsed->size() == 1);
  return parsed && !parsed->empty() ? parsed->front() : SyncthingEvent{};
}

TEST(SyncthingMessages, RecordedEventsAreRead) {
  const auto events = ParseSyncthingEvents(Events(
      Event(12, "LocalIndexUpdated",
            R"({"filenames":["small.txt","a/b c.txt"],"folder":"vantorel-test","items":2,"sequence":1,"version":1})") +
      "," + Event(40, "RemoteDownloadProgress", R"({"device":")" + kPeer + R"(","folder":"vantorel-test","state":{"up.bin":11}})") +
      "," + Event(24, "ItemFinished", R"({"action":"update","error":"permission denied","folder":"f","item":"x.bin","type":"file"})") +
      "," + Event(7, "DeviceConnected", R"({"addr":"127.0.0.1:43783","id":")" + kPeer + R"(","type":"tcp-client"})") +
      "," + Event(30, "DownloadProgress", R"({"f":{"big.bin":{"bytesDone":1000,"bytesTotal":4000,"pulled":1}}})") +
      "," + Event(31, "FolderPaused", R"({"id":"f","label":"F"})") +
      "," + Event(2, "StateChanged", R"({"folder":"f","from":"idle","to":"scanning"})")));
  ASSERT_TRUE(events);
  ASSERT_EQ(events->size(), 7u);
  const auto& e = *events;
  EXPECT_EQ(e[0].type, SyncthingEvent::Type::LocalIndexUpdated);
  EXPECT_EQ(e[0].id, 12);
  EXPECT_EQ(e[0].names, (std::vector<std::string>{"small.txt", "a/b c.txt"}));
  EXPECT_EQ(e[1].blocks.at("up.bin"), 11);
  EXPECT_EQ(e[1].device, kPeer);
  EXPECT_EQ(e[2].error.value_or(""), "permission denied");
  EXPECT_EQ(e[3].device, kPeer);  // device events name it "id"
  EXPECT_EQ(e[4].progress.at("f").at("big.bin").done, 1000);
  EXPECT_EQ(e[5].folder, "f");  // so do folder pauses
  EXPECT_EQ(e[6].type, SyncthingEvent::Type::Other);  // kept: its id moves the stream on
  EXPECT_FALSE(One(Event(25, "ItemFinished", R"({"action":"update","error":null,"folder":"f","item":"x","type":"file"})"))
                   .error);
  EXPECT_NE(SyncthingEventFilter().find("RemoteIndexUpdated"), std::string::npos);
  EXPECT_EQ(SyncthingEventFilter().find("StateChanged"), std::string::npos);
}

TEST(SyncthingMessages, MalformedAnswersReadAsNothing) {
  for (const char* text : {"", "{", "{}", "[1]", R"([{"type":"LocalIndexUpdated"}])", R"([{"id":-3,"type":"x"}])",
                           "<html>403 Forbidden</html>", R"([{"id":1,"data":{"filenames":"x"}}, ])"})
    EXPECT_FALSE(ParseSyncthingEvents(text)) << text;
  // Wrong types inside an event are left out, not guessed.
  const SyncthingEvent odd = One(R"({"id":3,"type":"LocalIndexUpdated","data":{"filenames":[1,"ok",null],"folder":7}})");
  EXPECT_EQ(odd.names, std::vector<std::string>{"ok"});
  EXPECT_EQ(odd.folder, "");
  EXPECT_FALSE(ParseSyncthingFolders(R"([{"id":"x"}])"));  // no path
  EXPECT_FALSE(ParseSyncthingNeedItems(R"({"completion":100})"));
  EXPECT_FALSE(ParseSyncthingConnections(R"({"total":{}})"));
  // Numbers past what 64 bits hold read as 0 (a cast of 1e300 is undefined).
  for (const char* size : {"1e300", "-1e300", "18446744073709551615", "9223372036854775808.0"}) {
    const auto page = ParseSyncthingNeedPage(std::string(R"({"files":[],"page":)") + size + "}");
    EXPECT_TRUE(page && page->page == 0) << size;
    EXPECT_EQ(ParseSyncthingNeedItems(std::string(R"({"needItems":)") + size + "}").value_or(-1), 0) << size;
  }
}

TEST(SyncthingMessages, AnswersNestedDeeperThanAnyRealOneAreMalformed) {
  // A version vector nested 300,000 levels once ended the program.
  const std::string deep = std::string(300000, '[') + std::string(300000, ']');
  EXPECT_FALSE(ParseSyncthingFileRecord(R"({"global":{"size":6,"version":)" + deep + R"(},"local":{"size":6,"version":)" +
                                        deep + "}}"));
  EXPECT_FALSE(ParseSyncthingEvents("[" + deep + "]"));
  EXPECT_FALSE(ParseSyncthingFolders("[" + deep + "]"));
  EXPECT_FALSE(ParseSyncthingNeedPage(R"({"files":)" + deep + "}"));
  EXPECT_FALSE(ParseSyncthingNeedItems(R"({"needItems":1,"x":)" + deep + "}"));
  // Brackets inside names (and escaped quotes before them) are text, not nesting.
  const auto page = ParseSyncthingNeedPage(R"({"files":[{"name":"a\")" + std::string(100, '[') + R"("}]})");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->names, std::vector<std::string>{"a\"" + std::string(100, '[')});
}

TEST(SyncthingMessages, RestAnswersAreRead) {
  const auto folders = ParseSyncthingFolders(
      R"([{"id":"vantorel-test","label":"Vantorel test","path":"/tmp/a","paused":true,"fsWatcherDelayS":1,
           "devices":[{"deviceID":")" + kMe + R"(","introducedBy":""},{"deviceID":")" + kPeer + R"("}]}])");
  ASSERT_TRUE(folders);
  ASSERT_EQ(folders->size(), 1u);
  EXPECT_TRUE((*folders)[0].paused);
  EXPECT_EQ((*folders)[0].devices.size(), 2u);
  EXPECT_EQ(ParseSyncthingOwnId(R"({"myID":")" + kMe + R"(","uptime":3})").value_or(""), kMe);
  const auto connections = ParseSyncthingConnections(R"({"connections":{")" + kPeer +
                                                     R"(":{"connected":true,"paused":false},")" + kMe +
                                                     R"(":{"connected":false,"paused":false},"P":{"connected":true,"paused":true}}})");
  ASSERT_TRUE(connections);
  EXPECT_TRUE(connections->at(kPeer));
  EXPECT_FALSE(connections->at(kMe));
  EXPECT_FALSE(connections->at("P"));  // paused is not connected
  EXPECT_EQ(ParseSyncthingNeedItems(R"({"completion":42.8,"needItems":1,"needBytes":4000000})").value_or(-1), 1);
  // Only files: a folder, a link and a deletion move no file.
  const auto page = ParseSyncthingNeedPage(
      R"({"files":[{"name":"up.bin","size":4000000,"type":"FILE_INFO_TYPE_FILE"},{"name":"d","type":"FILE_INFO_TYPE_DIRECTORY"},
                   {"name":"l","type":"FILE_INFO_TYPE_SYMLINK"},{"name":"gone","deleted":true},{"name":"old","type":0}],
          "page":1,"perpage":10000})");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->names, (std::vector<std::string>{"up.bin", "old"}));
  const auto record = ParseSyncthingFileRecord(
      R"({"availability":[],"global":{"size":6,"version":["RFLCBZU:1796816315"]},
          "local":{"deleted":false,"ignored":false,"size":6,"version":["RFLCBZU:1796816315"]}})");
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->localIsGlobal);
  EXPECT_EQ(record->size, 6);
}

TEST(SyncthingTemporaryFiles, NamesOfTheFileWrittenWhileAnItemArrives) {
  EXPECT_TRUE(IsSyncthingTemporary("/s/.syncthing.big.bin.tmp"));
  EXPECT_EQ(ItemOfSyncthingTemporary("/s/d/.syncthing.a b.txt.tmp").value_or(""), "/s/d/a b.txt");
  EXPECT_EQ(SyncthingTemporaryOf("/s/d/a b.txt"), "/s/d/.syncthing.a b.txt.tmp");
  for (const char* not_one : {"/s/.syncthing..tmp", "/s/syncthing.x.tmp", "/s/.syncthing.x", "/s/.syncthing.tmp"})
    EXPECT_FALSE(IsSyncthingTemporary(not_one)) << not_one;
  // The block size grows with the file: 10 blocks of a 1.5 MiB file (128 KiB
  // blocks) and of a 1 GiB one (1 MiB blocks: 512 KiB would make 2048).
  EXPECT_NEAR(SyncthingBlocksPercent(10, 1536 * 1024), 83.3, 0.1);
  EXPECT_NEAR(SyncthingBlocksPercent(10, 1LL << 30), 0.977, 0.001);
  EXPECT_EQ(SyncthingBlocksPercent(40, 1000), 100.0);
}

class SyncthingFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("vantorel-st-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    files_.SetOwnDevice(kMe);
    SyncthingFiles::Effects effects;
    files_.SetFolders({{"f", "F", root_.string() + "/", false, {kMe, kPeer}}}, effects);
    EXPECT_EQ(effects.refreshNeeds.count({"f", kPeer}), 1u);  // its need is read at once
    EXPECT_EQ(effects.refreshNeeds.count({"f", kMe}), 1u);  // and its own, for the pulls it waits for
    files_.SetNeed("f", kPeer, {}, files_.IndexGeneration(), effects);
    files_.SetNeed("f", kMe, {}, files_.IndexGeneration(), effects);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = root_.string() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  SyncthingFiles::Effects Apply(const std::string& type, const std::string& data) {
    SyncthingFiles::Effects effects;
    files_.Apply(One(Event(++id_, type, data)), effects);
    return effects;
  }
  bool Uploaded(const std::string& path) { return files_.IsUploaded(path, 0.0); }

  fs::path root_;
  SyncthingFiles files_{static_cast<double>(std::time(nullptr))};
  int id_ = 0;
};

TEST_F(SyncthingFilesTest, AnUploadLastsUntilAnotherDeviceHasTheVersionIndexedHere) {
  const std::string path = Write("report.txt", "one");
  EXPECT_TRUE(files_.IsTracked(path));
  EXPECT_FALSE(Uploaded(path));  // changed while watched: waits to be indexed
  auto effects = Apply("LocalIndexUpdated", R"({"folder":"f","filenames":["report.txt"]})");
  EXPECT_EQ(effects.changed, std::vector<std::string>{path});
  EXPECT_EQ(effects.refreshNeeds.count({"f", kPeer}), 1u);
  EXPECT_FALSE(Uploaded(path));  // the peer needs it until its need is read again
  EXPECT_EQ(files_.DirectionOf(path), TransferDirection::Sending);

  // Seen from two real instances: a completion event saying 100 % a moment
  // after the index update, while the file was still on its way.
  effects = Apply("FolderCompletion", R"({"folder":"f","device":")" + kPeer + R"(","completion":100,"needItems":0})");
  EXPECT_FALSE(Uploaded(path));
  EXPECT_EQ(effects.refreshNeeds.count({"f", kPeer}), 1u);

  // A need read before the index update (answers may cross) says nothing.
  SyncthingFiles::Effects stale;
  files_.SetNeed("f", kPeer, {}, files_.IndexGeneration() - 1, stale);
  EXPECT_FALSE(Uploaded(path));

  Apply("RemoteDownloadProgress", R"({"folder":"f","device":")" + kPeer + R"(","state":{"report.txt":1}})");
  EXPECT_EQ(files_.PercentDone(path).value_or(-1), 100.0);  // 1 block of a 3-byte file
  SyncthingFiles::Effects arrived;
  files_.SetNeed("f", kPeer, {"other.txt"}, files_.IndexGeneration(), arrived);
  EXPECT_EQ(arrived.changed, std::vector<std::string>{path});
  EXPECT_TRUE(Uploaded(path));

  // Changed again: uploading until indexed and arrived again.
  Write("report.txt", "two, longer");
  EXPECT_FALSE(Uploaded(path));
}

TEST_F(SyncthingFilesTest, APullIsADownloadAndItsOwnIndexUpdateIsNoUpload) {
  const std::string path = root_.string() + "/big.bin";
  Apply("ItemStarted", R"({"folder":"f","item":"big.bin","action":"update","type":"file"})");
  EXPECT_TRUE(files_.IsDownloading(path));
  EXPECT_EQ(files_.DirectionOf(path), TransferDirection::Receiving);
  Apply("DownloadProgress", R"({"f":{"big.bin":{"bytesDone":1500,"bytesTotal":3000}}})");
  EXPECT_EQ(files_.PercentDone(path).value_or(-1), 50.0);
  Write(".syncthing.big.bin.tmp", "partial");
  EXPECT_FALSE(Uploaded(path));

  fs::rename(root_ / ".syncthing.big.bin.tmp", path);
  Write("big.bin", "all of it");
  // Syncthing can index the pulled file before it says the pull ended.
  auto effects = Apply("LocalIndexUpdated", R"({"folder":"f","filenames":["big.bin"]})");
  EXPECT_TRUE(effects.changed.empty());
  EXPECT_EQ(files_.DirectionOf(path), TransferDirection::Receiving);
  const std::uint32_t asked = files_.EventsApplied();
  effects = Apply("ItemFinished", R"({"folder":"f","item":"big.bin","action":"update","type":"file","error":null})");
  EXPECT_EQ(effects.changed, std::vector<std::string>{path});
  EXPECT_FALSE(files_.IsDownloading(path));
  EXPECT_TRUE(Uploaded(path));
  // A need asked before the pull ended, answered after, still names it.
  files_.SetNeed("f", kMe, {"big.bin"}, files_.IndexGeneration(), effects, asked);
  EXPECT_FALSE(files_.IsDownloading(path));
  effects = Apply("LocalIndexUpdated", R"({"folder":"f","filenames":["big.bin"]})");
  EXPECT_TRUE(effects.changed.empty());
  EXPECT_EQ(files_.DirectionOf(path), TransferDirection::Receiving);

  // Edited here afterwards: a local change.
  Write("big.bin", "edited here, longer");
  EXPECT_FALSE(Uploaded(path));
  EXPECT_EQ(files_.DirectionOf(path), TransferDirection::Sending);

  // Deletions and folders are no downloads.
  Apply("ItemStarted", R"({"folder":"f","item":"gone.txt","action":"delete","type":"file"})");
  Apply("ItemStarted", R"({"folder":"f","item":"dir","action":"update","type":"dir"})");
  EXPECT_FALSE(files_.IsDownloading(root_.string() + "/gone.txt"));
  EXPECT_FALSE(files_.IsDownloading(root_.string() + "/dir"));
}

TEST_F(SyncthingFilesTest, ErrorsAreToldOnceAndOtherFoldersChangeNothing) {
  const std::string path = root_.string() + "/locked.bin";
  Apply("ItemStarted", R"({"folder":"f","item":"locked.bin","action":"update","type":"file"})");
  auto effects =
      Apply("ItemFinished", R"({"folder":"f","item":"locked.bin","action":"update","type":"file","error":"denied"})");
  EXPECT_TRUE(files_.IsInError(path));
  EXPECT_EQ(files_.ErrorText(path), "denied");  // the reason a failed row shows
  EXPECT_EQ(effects.lines.size(), 1u);
  effects = Apply("FolderErrors", R"({"folder":"f","errors":[{"path":"locked.bin","error":"denied"}]})");
  EXPECT_TRUE(effects.lines.empty());

  for (const auto& [type, data] : std::vector<std::pair<std::string, std::string>>{
           {"LocalIndexUpdated", R"({"folder":"elsewhere","filenames":["a.txt"]})"},
           {"ItemStarted", R"({"folder":"elsewhere","item":"a.txt","action":"update","type":"file"})"},
           {"RemoteIndexUpdated", R"({"folder":"elsewhere","device":")" + kPeer + "\"}"}}) {
    effects = Apply(type, data);
    EXPECT_TRUE(effects.changed.empty() && effects.refreshNeeds.empty() && effects.lines.empty()) << type;
  }
  EXPECT_EQ(files_.EntryCount(), 1u);
}

TEST_F(SyncthingFilesTest, WhatWasPendingBeforeWatchingComesFromTheNeeds) {
  const std::string sending = Write("sending.bin", "half sent");
  const std::string had = Write("had.txt", "on both");
  SyncthingFiles launch(static_cast<double>(std::time(nullptr)) + 3600);  // both changed before watching
  SyncthingFiles::Effects e;
  launch.SetOwnDevice(kMe);
  launch.SetFolders({{"f", "F", root_.string(), false, {kMe, kPeer, "P2"}}}, e);
  // One device has answered: the other may have the files, so none is taken yet.
  launch.SetNeed("f", kPeer, {"sending.bin", "had.txt", "gone.txt"}, 0, e);
  EXPECT_TRUE(e.changed.empty());
  launch.SetNeed("f", "P2", {"sending.bin"}, 0, e);
  EXPECT_EQ(e.changed, std::vector<std::string>{sending});  // had.txt is on P2; gone.txt is not here
  EXPECT_FALSE(launch.IsUploaded(sending, 0.0));
  EXPECT_EQ(launch.DirectionOf(sending), TransferDirection::Sending);
  EXPECT_TRUE(launch.IsUploaded(had, 0.0));
  e = {};
  launch.SetNeed("f", "P2", {}, 0, e);  // it arrived: the upload ends
  EXPECT_EQ(e.changed, std::vector<std::string>{sending});
  EXPECT_TRUE(launch.IsUploaded(sending, 0.0));

  // Its own need: pulls it waits for, shown under their temporary files
  // until they run, or until the need no longer names them.
  const std::string coming = root_.string() + "/coming.bin";
  const std::string next = root_.string() + "/sub/next.txt";
  e = {};
  launch.SetNeed("f", kMe, {"coming.bin", "sub/next.txt", ".stfolder"}, 0, e);
  EXPECT_EQ(std::set<std::string>(e.changed.begin(), e.changed.end()),
            (std::set<std::string>{SyncthingTemporaryOf(coming), SyncthingTemporaryOf(next)}));
  EXPECT_TRUE(launch.IsDownloading(coming));
  EXPECT_EQ(launch.DirectionOf(coming), TransferDirection::Receiving);
  Write("coming.bin", "pulled while nobody listened");
  e = {};
  launch.SetNeed("f", kMe, {"sub/next.txt"}, 0, e);
  EXPECT_EQ(e.changed, (std::vector<std::string>{coming, SyncthingTemporaryOf(coming)}));
  EXPECT_FALSE(launch.IsDownloading(coming));
  EXPECT_TRUE(launch.IsUploaded(coming, 0.0));
  EXPECT_TRUE(launch.IsDownloading(next));
  // Indexed here, a waited-for pull has the need read again: no event of
  // its own may come to end it.
  e = {};
  launch.Apply(One(Event(1, "LocalIndexUpdated", R"({"folder":"f","filenames":["sub/next.txt"]})")), e);
  EXPECT_EQ(e.refreshNeeds.count({"f", kMe}), 1u);
}

TEST_F(SyncthingFilesTest, WhatIsTrackedAndWhatWasThereBefore) {
  const std::string old = Write("old.txt", "from before");
  const auto long_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(old, long_ago);
  SyncthingFiles earlier(static_cast<double>(std::time(nullptr)) + 3600);  // watching began after it changed
  SyncthingFiles::Effects effects;
  earlier.SetOwnDevice(kMe);
  earlier.SetFolders(files_.Folders(), effects);
  EXPECT_TRUE(earlier.IsUploaded(old, 0.0));
  EXPECT_EQ(earlier.DirectionOf(old), TransferDirection::Unknown);

  EXPECT_FALSE(files_.IsTracked(root_.string() + "/.stfolder"));
  EXPECT_FALSE(files_.IsTracked(root_.string() + "/.stversions/a.txt"));
  EXPECT_FALSE(files_.IsInStore("/elsewhere/a.txt"));

  // A change Syncthing never indexes is asked about; ignored, it leaves.
  const std::string ignored = Write("cache.tmp", "x");
  EXPECT_FALSE(files_.IsUploaded(ignored, 100.0));
  EXPECT_TRUE(files_.OverdueChanges(105.0, 15.0).empty());
  const auto overdue = files_.OverdueChanges(116.0, 15.0);
  ASSERT_EQ(overdue.size(), 1u);
  EXPECT_EQ(overdue[0], std::make_pair(std::string("f"), std::string("cache.tmp")));
  // Syncthing back after a while away: its index may hold changes whose
  // events went with the old stream, so they are asked about at once.
  files_.Reconnected(effects);
  EXPECT_EQ(files_.OverdueChanges(117.0, 15.0).size(), 1u);
  SyncthingFileRecord record;
  record.ignored = true;
  files_.ApplyRecord(ignored, record, effects);
  EXPECT_FALSE(files_.IsTracked(ignored));

  // Devices: connected only while one sharing a folder is; meanwhile the
  // transfers wait, and say why.
  EXPECT_FALSE(files_.AnyPeerConnected());
  EXPECT_EQ(files_.WaitingFor().value_or(""), "Waiting: no other device sharing " + root_.string() + " is connected.");
  Apply("DeviceConnected", R"({"id":")" + kPeer + R"("})");
  EXPECT_TRUE(files_.AnyPeerConnected());
  EXPECT_FALSE(files_.WaitingFor());
  Apply("FolderPaused", R"({"id":"f"})");
  EXPECT_EQ(files_.WaitingFor().value_or(""), root_.string() + " is paused in Syncthing.");
  Apply("FolderResumed", R"({"id":"f"})");
  // Of two folders, the watched one's pause is the one that counts.
  files_.SetFolders({{"f", "F", root_.string(), false, {kMe, kPeer}}, {"n", "Notes", "/notes", true, {kMe, kPeer}}},
                    effects);
  EXPECT_FALSE(files_.WatchedFoldersPaused());  // none watched: every folder counts
  files_.SetWatchedFolder("/notes/inner");
  EXPECT_TRUE(files_.WatchedFoldersPaused());
  EXPECT_EQ(files_.WaitingFor().value_or(""), "/notes is paused in Syncthing.");
  files_.SetWatchedFolder(root_.string());
  EXPECT_FALSE(files_.WatchedFoldersPaused());
  EXPECT_FALSE(files_.WaitingFor());
  Apply("DevicePaused", R"({"device":")" + kPeer + R"("})");
  Apply("DeviceDisconnected", R"({"id":")" + kPeer + R"("})");
  EXPECT_FALSE(files_.AnyPeerConnected());
}

TEST(SyncthingConfig, TheGuiAndKeyAreRead) {
  const fs::path dir = fs::temp_directory_path() / ("vantorel-stconf-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const auto read = [&](const std::string& gui, std::string* problem) {
    std::ofstream(dir / "config.xml") << "<configuration version=\"36\">\n" << gui << "\n</configuration>\n";
    return ReadSyncthingConfig((dir / "config.xml").string(), problem);
  };
  std::string problem;
  auto endpoint = read(R"(<gui enabled="true" tls="true"><address>0.0.0.0:8385</address>
                          <apikey> key1 </apikey></gui>)",
                       &problem);
  ASSERT_TRUE(endpoint) << problem;
  EXPECT_EQ(endpoint->baseUrl, "https://127.0.0.1:8385");
  EXPECT_EQ(endpoint->apiKey, "key1");
  EXPECT_EQ(endpoint->certificate, (dir / "https-cert.pem").string());
  endpoint = read(R"(<gui tls="false"><address>unix:///run/st.sock</address><apikey>k</apikey></gui>)", &problem);
  ASSERT_TRUE(endpoint) << problem;
  EXPECT_EQ(endpoint->unixSocket, "/run/st.sock");
  EXPECT_TRUE(endpoint->certificate.empty());
  EXPECT_FALSE(read(R"(<gui><address>127.0.0.1:8384</address></gui>)", &problem));
  EXPECT_NE(problem.find("no API key"), std::string::npos);
  EXPECT_FALSE(read(R"(<gui enabled="false"><address>127.0.0.1:8384</address><apikey>k</apikey></gui>)", &problem));
  EXPECT_NE(problem.find("turned off"), std::string::npos);
  EXPECT_FALSE(read("<gui>", &problem));
  EXPECT_NE(problem.find("cannot be read"), std::string::npos);
  fs::remove_all(dir);
}

// A fake REST API on loopback: each request's head goes to `handler`,
// which returns the whole HTTP answer, or nothing to take the request and
// never answer.
class FakeApi {
public:
  using Handler = std::function<std::string(const std::string& head)>;
  explicit FakeApi(Handler handler) : handler_(std::move(handler)) {
    fd_ = ListenOnLoopback(16, &port_);
    thread_ = std::thread([this] { Serve(); });
  }
  explicit FakeApi(const std::string& answer) : FakeApi([answer](const std::string&) { return answer; }) {}
  ~FakeApi() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
    for (int held : held_) ::close(held);
  }
  int Port() const { return port_; }
  int Requests() const { return requests_; }

  static std::string Json(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
  }
  static std::string Forbidden() {
    return "HTTP/1.1 403 Forbidden\r\nContent-Length: 10\r\nConnection: close\r\n\r\nForbidden\n";
  }

private:
  void Serve() {
    while (!stop_) {
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      char buffer[4096];
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      ++requests_;
      const std::string answer = handler_(request);
      if (answer.empty()) {
        held_.push_back(client);  // taken, never answered
        continue;
      }
      [[maybe_unused]] const auto sent = ::write(client, answer.data(), answer.size());
      ::close(client);
    }
  }
  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::vector<int> held_;
  std::thread thread_;
};

class SyncthingSourceTest : public ::testing::Test {
protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("vantorel-sthome-" + std::to_string(::getpid()));
    fs::create_directories(home_);
    ::setenv("STHOMEDIR", home_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("STHOMEDIR");
    fs::remove_all(home_);
  }
  void PointAt(int port, const std::string& key = "old-key") {
    std::ofstream(home_ / "config.xml") << "<configuration><gui tls=\"false\"><address>127.0.0.1:" << port
                                        << "</address><apikey>" << key << "</apikey></gui></configuration>";
  }
  static bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  fs::path home_;
};

TEST_F(SyncthingSourceTest, ARefusedKeyIsSaidOnceAndNothingWaitsForIt) {
  FakeApi api(FakeApi::Forbidden());
  PointAt(api.Port());
  CaptureDiagnostics diagnostics;
  {
    SyncthingOptions options;
    auto source = MakeSyncthingSource(options);
    ASSERT_TRUE(WaitFor([&] { return diagnostics.Text().find("refused the API key") != std::string::npos; }));
    EXPECT_FALSE(source->Describe().connected);
    EXPECT_FALSE(source->IsInStore("/anything"));
    std::string problem;
    EXPECT_FALSE(source->SetSyncingPaused(true, &problem));
    EXPECT_EQ(problem, "Syncthing is not running");
  }
  const std::string text = diagnostics.Text();
  EXPECT_EQ(text.find("refused the API key"), text.rfind("refused the API key"));  // said once
}

TEST_F(SyncthingSourceTest, ASyncthingThatNeverAnswersBlocksNoQuestionAndNoQuit) {
  FakeApi api(std::string{});
  PointAt(api.Port());
  CaptureDiagnostics diagnostics;
  auto source = MakeSyncthingSource(SyncthingOptions{});
  ASSERT_TRUE(WaitFor([&] { return api.Requests() > 0; }));
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_FALSE(source->IsUploaded("/some/file"));
  EXPECT_EQ(source->Describe().name, "Syncthing");
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100));
  // Its request is still waiting; going away does not wait for its time-out.
  const auto quitting = std::chrono::steady_clock::now();
  source.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - quitting, std::chrono::seconds(3));
}

TEST_F(SyncthingSourceTest, AChangedKeyIsReadAgainAndTheFilteredStreamIsFollowedFromItsOwnIds) {
  // Syncthing as it answers with the new key; 403 to the old one.
  std::mutex lock;
  std::vector<std::string> polls;  // the event requests, in order
  const std::string folder = (home_ / "Sync").string();
  FakeApi api([&](const std::string& head) -> std::string {
    if (head.find("X-API-Key: new-key\r\n") == std::string::npos) return FakeApi::Forbidden();
    const std::string target = head.substr(4, head.find(" HTTP/") - 4);
    if (target.rfind("/rest/system/status", 0) == 0) return FakeApi::Json(R"({"myID":")" + kMe + R"("})");
    if (target.rfind("/rest/config/folders", 0) == 0)
      return FakeApi::Json(R"([{"id":"f","path":")" + folder + R"(","devices":[{"deviceID":")" + kMe +
                           R"("},{"deviceID":")" + kPeer + R"("}]}])");
    if (target.rfind("/rest/system/connections", 0) == 0)
      return FakeApi::Json(R"({"connections":{")" + kPeer + R"(":{"connected":true,"paused":false}}})");
    if (target.rfind("/rest/db/completion", 0) == 0) return FakeApi::Json(R"({"needItems":0})");
    if (target.rfind("/rest/events", 0) == 0) {
      std::size_t count;
      {
        std::lock_guard guard(lock);
        polls.push_back(target);
        count = polls.size();
      }
      // The newest event of the filtered stream is number 41; then one
      // page with 42 and 43; then quiet.
      if (count == 1) return FakeApi::Json(R"([{"id":41,"type":"LocalIndexUpdated","data":{}}])");
      if (count == 2)
        return FakeApi::Json(R"([{"id":42,"type":"ConfigSaved","data":{}},{"id":43,"type":"Other","data":{}}])");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return FakeApi::Json("[]");
    }
    return FakeApi::Json("{}");
  });
  PointAt(api.Port(), "old-key");
  CaptureDiagnostics diagnostics;
  auto source = MakeSyncthingSource(SyncthingOptions{});
  ASSERT_TRUE(WaitFor([&] { return diagnostics.Text().find("refused the API key") != std::string::npos; }));
  PointAt(api.Port(), "new-key");  // the user changed it in Syncthing
  ASSERT_TRUE(WaitFor([&] { return source->Describe().connected; })) << diagnostics.Text();
  EXPECT_EQ(source->Describe().roots, std::vector<std::string>{folder});
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard guard(lock);
    return polls.size() >= 3;
  }));
  std::lock_guard guard(lock);
  EXPECT_NE(polls[0].find("limit=1"), std::string::npos);
  for (const std::string& poll : polls) EXPECT_NE(poll.find("events=LocalIndexUpdated,"), std::string::npos) << poll;
  EXPECT_NE(polls[1].find("since=41&"), std::string::npos) << polls[1];
  EXPECT_NE(polls[2].find("since=43&"), std::string::npos) << polls[2];
}

}  // namespace
}  // namespace vantorel::test
