// A Syncthing that lies or is someone else: names stepping out of their
// folder, folders that are not the user's own (and "~/Name", which is),
// floods of events, pages larger than asked for, a state that flaps, and a
// stranger listening where Syncthing should be.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "sources/StateLines.h"
#include "sources/syncthing/SyncthingConfig.h"
#include "sources/syncthing/SyncthingFiles.h"
#include "sources/syncthing/SyncthingMessages.h"
#include "sources/syncthing/SyncthingSource.h"
#include "support/CaptureDiagnostics.h"
#include "support/ListenerAs.h"
#include "support/TempDir.h"

namespace vantorel::test {
namespace {

const std::string kMe = "RFLCBZU-QUYIEFT-WDRK6VI-2HGLNRQ-I4VA3TU-YPRVL3L-HSFXWJZ-BZLXEAP";
const std::string kPeer = "6TLVUEQ-LAZL6L5-C2XOJWE-QSYUOAI-Q5JOOB2-GTOAA7M-2UTVRQ4-ZR5LEA7";

TEST(SyncthingHostile, NamesThatStepOutOfTheirFolderAreLeftOutOfEveryMessage) {
  const auto events = ParseSyncthingEvents(R"([
    {"id":1,"type":"ItemStarted","data":{"folder":"f","item":"../../../etc/passwd","action":"update","type":"file"}},
    {"id":2,"type":"ItemFinished","data":{"folder":"f","item":"a\u0000b","action":"update","type":"file"}},
    {"id":3,"type":"LocalIndexUpdated","data":{"folder":"f","filenames":["ok.txt","/etc/passwd","a/./b","a\nb"]}},
    {"id":4,"type":"RemoteDownloadProgress","data":{"folder":"f","device":"d","state":{"../x":1,"ok.txt":2}}},
    {"id":5,"type":"FolderErrors","data":{"folder":"f","errors":[{"path":"../x","error":"e"},{"path":"ok.txt","error":"e"}]}},
    {"id":6,"type":"DownloadProgress","data":{"f":{"..":{"bytesDone":1,"bytesTotal":2},"ok.txt":{"bytesTotal":2}}}}])");
  ASSERT_TRUE(events);
  const auto& e = *events;
  EXPECT_EQ(e[0].item, "");
  EXPECT_EQ(e[1].item, "");
  EXPECT_EQ(e[2].names, std::vector<std::string>{"ok.txt"});
  EXPECT_EQ(e[3].blocks.size(), 1u);
  ASSERT_EQ(e[4].errors.size(), 1u);
  EXPECT_EQ(e[4].errors[0].first, "ok.txt");
  EXPECT_EQ(e[5].progress.at("f").size(), 1u);
  const auto need = ParseSyncthingNeedPage(R"({"files":[{"name":"ok.txt"},{"name":"../../x"},{"name":"/x"}],"page":1})");
  ASSERT_TRUE(need);
  EXPECT_EQ(need->names, std::vector<std::string>{"ok.txt"});

  // A page longer than the one asked for is no page of Syncthing's.
  const std::string three = R"([{"id":1,"type":"A"},{"id":2,"type":"B"},{"id":3,"type":"C"}])";
  EXPECT_TRUE(ParseSyncthingEvents(three, 3));
  EXPECT_FALSE(ParseSyncthingEvents(three, 2));
}

TEST(SyncthingHostile, FoldersAreTheUsersOwnWithTheTildeExpandedAsSyncthingDoes) {
  TempDir home;
  const std::string tilde = home.MakeFolder("Tilde");
  const char* before = std::getenv("HOME");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("HOME", home.path().c_str(), 1);
  SyncthingFiles files;
  files.SetOwnDevice(kMe);
  const auto folder = [](const char* id, const std::string& path) {
    return SyncthingFolder{id, id, path, false, {kMe, kPeer}};
  };
  const std::vector<SyncthingFolder> folders{folder("t", "~/Tilde/"), folder("root", "/"), folder("rel", "Sync"),
                                             folder("sys", "/proc/self"), folder("up", "/tmp/../etc")};
  SyncthingFiles::Effects effects;
  files.SetFolders(folders, effects);
  SyncthingFiles::Effects again;
  files.SetFolders(folders, again);
  ::setenv("HOME", saved.c_str(), 1);
  EXPECT_EQ(files.Roots(), std::vector<std::string>{tilde});
  ASSERT_EQ(effects.lines.size(), 4u);
  for (const std::string& line : effects.lines) EXPECT_EQ(line.rfind("not following folder", 0), 0u) << line;
  EXPECT_TRUE(again.lines.empty());  // said once
  EXPECT_FALSE(files.IsInStore("/etc/passwd"));
  EXPECT_TRUE(files.IsInStore(tilde + "/a.txt"));
}

TEST(SyncthingHostile, FloodsAreBoundedAndThousandsOfErrorsMakeOneLine) {
  TempDir dir;
  SyncthingFiles files;
  files.SetOwnDevice(kMe);
  SyncthingFiles::Effects effects;
  files.SetFolders({{"f", "F", dir.path(), false, {kMe, kPeer}}}, effects);
  // Pulls started and never ended, one per event.
  SyncthingEvent started;
  started.type = SyncthingEvent::Type::ItemStarted;
  started.folder = "f";
  started.action = "update";
  started.itemType = "file";
  for (int i = 0; i < 150000; ++i) {
    started.item = "pull-" + std::to_string(i);
    SyncthingFiles::Effects ignored;
    files.Apply(started, ignored);
  }
  EXPECT_LT(files.EntryCount(), 100000u);
  EXPECT_TRUE(files.IsDownloading(dir / "pull-149999"));  // the newest are kept

  SyncthingEvent errors;
  errors.type = SyncthingEvent::Type::FolderErrors;
  errors.folder = "f";
  for (int i = 0; i < 5000; ++i) errors.errors.emplace_back("bad-" + std::to_string(i), "permission denied");
  SyncthingFiles::Effects said;
  files.Apply(errors, said);
  ASSERT_EQ(said.lines.size(), 1u);
  EXPECT_EQ(said.lines[0].rfind("5000 items of folder \"f\" could not be synchronised, among them bad-0", 0), 0u);
}

TEST(SyncthingHostile, AConfigurationThatCannotBeReadIsOneLineOfOursAndNothingOnTheTerminal) {
  TempDir dir;
  const std::string config = dir.Write("config.xml", "<configuration><gui><apikey>k</apikey>");
  const std::string caught = dir / "stderr.txt";
  const int capture = ::open(caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int savedStderr = ::dup(STDERR_FILENO);
  ::dup2(capture, STDERR_FILENO);
  ::close(capture);
  // No descriptor left: libxml2 would print its own I/O error.
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  const rlimit saved = limit;
  limit.rlim_cur = 256;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> held;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) held.push_back(fd);
  std::string full;
  EXPECT_FALSE(ReadSyncthingConfig(config, &full));
  for (const int fd : held) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  std::string broken;
  EXPECT_FALSE(ReadSyncthingConfig(config, &broken));
  std::fflush(stderr);
  ::dup2(savedStderr, STDERR_FILENO);
  ::close(savedStderr);
  EXPECT_EQ(full, config + " cannot be opened: Too many open files");
  EXPECT_EQ(broken, config + " cannot be read as XML");
  std::ifstream in(caught);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
}

TEST(StateLines, AStateThatFlapsIsSaidAtMostOnceAMinuteOnceFourWereSaid) {
  StateLines lines;
  const std::pair<const char*, double> heard[] = {{"up", 0}, {"up", 1}, {"down", 2}, {"up", 3}, {"down", 4},
                                                  {"up", 5}, {"down", 6}, {"new", 7}, {"up", 64}};
  const bool said[] = {true, false, true, true, true, false, false, true, true};
  for (std::size_t i = 0; i < std::size(heard); ++i)
    EXPECT_EQ(lines.ShouldSay(heard[i].first, heard[i].second), said[i]) << heard[i].first << " at " << heard[i].second;
}

TEST(SyncthingHostile, AStrangersListenerNeverGetsTheKey) {
  if (::geteuid() != 0) GTEST_SKIP() << "another user's listener needs root to start";
  TempDir home;
  const std::string shared = home.MakeFolder("shared");
  ::chmod(home.path().c_str(), 0711);
  ::chmod(shared.c_str(), 0777);  // where a stranger can make a socket
  for (const bool overUnixSocket : {false, true}) {
    SCOPED_TRACE(overUnixSocket ? "a Unix socket" : "a loopback port");
    ListenerAs stranger(65534, overUnixSocket ? shared + "/st.sock" : "");
    ASSERT_NE(stranger.Port(), 0);
    const std::string address =
        overUnixSocket ? "unix://" + shared + "/st.sock" : "127.0.0.1:" + std::to_string(stranger.Port());
    std::ofstream(home / "config.xml") << "<configuration><gui tls=\"false\"><address>" << address
                                       << "</address><apikey>secret-key</apikey></gui></configuration>";
    ::setenv("STHOMEDIR", home.path().c_str(), 1);
    CaptureDiagnostics diagnostics;
    {
      SyncthingOptions options;
      auto source = MakeSyncthingSource(options);
      const std::string expected = "is listened on by another user (uid 65534); not sending the API key";
      for (int i = 0; i < 500 && diagnostics.Text().find(expected) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_NE(diagnostics.Text().find(expected), std::string::npos) << diagnostics.Text();
      EXPECT_FALSE(source->Describe().connected);
    }
    ::unsetenv("STHOMEDIR");
    EXPECT_EQ(stranger.Received().find("secret-key"), std::string::npos) << stranger.Received();
  }
}

}  // namespace
}  // namespace vantorel::test
