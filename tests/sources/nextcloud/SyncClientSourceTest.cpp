// The sync clients' socket as the tracker's item-state source, against a
// fake client: uploads, downloads through the temporary file and through a
// placeholder, flicker, errors, subscriptions, sync runs, a client that
// quits and comes back, and what a client must not be able to do.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "sources/nextcloud/SyncClientProtocol.h"
#include "sources/SelectingItemSource.h"
#include "sources/attributes/AttributeItemSource.h"
#include "sources/nextcloud/SyncClientSource.h"
#include "support/CaptureDiagnostics.h"
#include "support/FakeSyncClient.h"
#include "support/TrackerFixture.h"

namespace vantorel::test {
namespace {

int Count(const CaptureDiagnostics& diagnostics, const std::string& needle) {
  const std::string text = diagnostics.Text();
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Waits (up to five seconds) for a line the source's thread writes.
bool RunUntilLine(const CaptureDiagnostics& diagnostics, const std::string& needle) {
  for (int i = 0; i < 500; ++i) {
    if (Count(diagnostics, needle) > 0) return true;
    ::usleep(10000);
  }
  return false;
}

class SyncClientSourceTest : public TrackerFixture {
protected:
  void SetUp() override {
    TrackerFixture::SetUp();
    settings.includePatterns = {".*"};
    settings.logReceivedDownloads = true;
    settings.enableLogging = true;
  }
  void TearDown() override {
    tracker.reset();
    source.reset();
    client.reset();
    TrackerFixture::TearDown();
  }
  // The fake client synchronising the watched folder, and a tracker asking it.
  // `automatic`: the client as the automatic choice finds it, beside the
  // attributes.
  // `syncing`: files the client is sending already when it is first asked.
  void StartClient(double settle = 0.3, bool automatic = false, const std::vector<std::string>& syncing = {}) {
    client = std::make_unique<FakeSyncClient>(socketPath, std::vector<std::string>{cloud});
    for (const std::string& path : syncing) client->Set(path, "SYNC");
    SyncClientOptions options{"Nextcloud", socketPath, ".nextcloud"};
    options.settleSeconds = settle;
    source = MakeSyncClientSource(options);
    if (automatic) source = MakeSelectingItemSource({source}, MakeAttributeItemSource());
    auto& t = MakeTracker();
    t.SetTransferLog(logFile);
    // No folder watched: what the tracker examines comes from the source's
    // pushes and the test alone, not from file events racing them.
    t.Start();
    // Connected, and the tracker has heard so (it waits while it has not: a
    // pass run then would wait for ever).
    ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty() && !t.IsPaused(); }, 5));
  }
  // Runs a pass once the tracker is not waiting for the client (a pause and
  // its end are delivered on this loop, which a pass does not run).
  void Pass() {
    EXPECT_TRUE(loop.RunUntil([&] { return !tracker->IsPaused(); }, 5)) << "the tracker stays paused";
    TrackerFixture::Pass();
  }
  // Waits until the source has pushed something for the tracker to examine,
  // then runs a pass.
  bool PassAfterPush() {
    const bool pushed = loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 5);
    Pass();
    return pushed;
  }
  // Waits until the client's word has reached the source and the push the
  // tracker, then runs a pass.
  bool PassWhen(const std::function<bool()>& heard) {
    const bool ok = loop.RunUntil([&] { return heard() && tracker->GetQueueSize() > 0; }, 5);
    Pass();
    return ok;
  }
  int LogCount(const std::string& needle) {
    int n = 0;
    for (const auto& line : LogLines()) n += line.find(needle) != std::string::npos;
    return n;
  }

  std::string socketPath = dir / "socket";
  std::unique_ptr<FakeSyncClient> client;
};

TEST_F(SyncClientSourceTest, AnUploadIsCountedOnceThroughFlickerUntilOk) {
  StartClient();
  const std::string file = Item("report.txt");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();  // not known yet: asked about, and in progress meanwhile
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  // SYNC, NOP (changed during the run), SYNC again: one transfer all along.
  for (const char* state : {"NOP", "SYNC"}) {
    client->Set(file, state);
    EXPECT_TRUE(PassAfterPush()) << state;
    EXPECT_EQ(tracker->Snapshot().inProgress, 1) << state;
  }
  client->Set(file, "OK");
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  const TrackerSnapshot s = tracker->Snapshot();
  EXPECT_EQ(s.inProgress, 0);
  EXPECT_EQ(s.completed, 1);
  EXPECT_EQ(LogCount("report.txt"), 1);
  EXPECT_EQ(tracker->Snapshot().completedDownloads, 0);  // an upload, not a download
}

TEST_F(SyncClientSourceTest, ALocalChangeWaitsForTheClientToSeeIt) {
  const std::string file = Item("notes.txt");
  StartClient(0.5);
  client->Set(file, "OK");
  tracker->QueueFile(file);
  Pass();
  ASSERT_TRUE(loop.RunUntil([&] { return source->IsUploaded(file); }, 5));
  tracker->ResetInactivityTimer();
  // Changed here: the client's old OK no longer counts.
  dir.Write("cloud/notes.txt", "changed content");
  tracker->QueueFile(file);
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  EXPECT_EQ(tracker->Snapshot().completedDownloads, 0);
  // The client answers OK at once, as it did before the change: not yet.
  const auto changed = std::chrono::steady_clock::now();
  ASSERT_TRUE(loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 5));
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  // It never shows another state: its OK counts once it has held.
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_GE(std::chrono::steady_clock::now() - changed, std::chrono::milliseconds(400));
  EXPECT_EQ(tracker->Snapshot().inProgress, 0);
  EXPECT_EQ(tracker->Snapshot().completed, 1);
}

TEST_F(SyncClientSourceTest, ADownloadThroughTheTemporaryFileCompletesOnItsItem) {
  StartClient();
  const std::string temporary = dir.Write("cloud/.photo.jpg.~1f2e", "part");
  tracker->QueueFile(temporary);
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  EXPECT_EQ(tracker->GetTransfers(), std::vector<std::string>{temporary});
  ASSERT_EQ(::rename(temporary.c_str(), (cloud + "/photo.jpg").c_str()), 0);
  client->Set(cloud + "/photo.jpg", "OK");
  tracker->QueueFile(cloud + "/photo.jpg");
  tracker->QueueFile(temporary);
  Pass();
  const TrackerSnapshot s = tracker->Snapshot();
  EXPECT_EQ(s.inProgress, 0);
  EXPECT_EQ(s.completedDownloads, 1);  // a download, as one seen only once there is
  EXPECT_EQ(LogCount("photo.jpg"), 1);
}

TEST_F(SyncClientSourceTest, AFastDownloadSeenOnlyAfterItArrivedIsReceived) {
  StartClient();
  const std::string item = Item("fast.txt");
  // The temporary file was there and gone within one event's delay.
  EXPECT_TRUE(source->IsDownloadFile(cloud + "/.fast.txt.~ab"));
  tracker->QueueFile(item);
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 0);
  EXPECT_EQ(tracker->Snapshot().completedDownloads, 1);
}

TEST_F(SyncClientSourceTest, APlaceholderIsADownloadOnlyWhileItIsFetched) {
  StartClient();
  const std::string placeholder = Item("movie.mkv.nextcloud");
  client->Set(placeholder, "OK");
  tracker->QueueFile(placeholder);
  Pass();  // asked about
  ASSERT_TRUE(loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 5));
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 0) << "an online-only placeholder is not a transfer";
  EXPECT_EQ(tracker->Snapshot().completedDownloads, 0);
  client->Set(placeholder, "SYNC");  // the user opened it: it is fetched
  EXPECT_TRUE(PassAfterPush());
  EXPECT_EQ(tracker->GetTransfers(), std::vector<std::string>{placeholder});
  const std::string item = Item("movie.mkv");
  ::unlink(placeholder.c_str());
  client->Set(item, "OK");
  tracker->QueueFile(item);
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 0);
  EXPECT_EQ(tracker->Snapshot().completedDownloads, 1);
}

TEST_F(SyncClientSourceTest, AnErrorEndsTheTransferAsFailedAndLeavesATraceUntilRetriedOrRemoved) {
  StartClient();
  tracker->SetDelegate(&delegate);
  const std::string file = Item("broken.txt");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();
  ASSERT_EQ(tracker->Snapshot().inProgress, 1);
  CaptureDiagnostics diagnostics;
  client->Set(file, "ERROR");
  // The answer to the first question pushes too: wait for the error itself.
  EXPECT_TRUE(PassWhen([&] { return source->IsInError(file); }));
  const TrackerSnapshot s = tracker->Snapshot();
  EXPECT_EQ(s.inProgress, 0);
  EXPECT_EQ(s.completed, 0);
  EXPECT_EQ(s.total, 0);
  // One notification, one log line, and a failed row with the client's
  // reason (this client gives none) until it is tried again.
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(tracker->GetFailedTransfers(), (std::map<std::string, std::string>{{file, ""}}));
  loop.RunOnce(0);
  EXPECT_EQ(delegate.failures, std::vector<std::string>{"broken.txt could not be uploaded."});
  EXPECT_EQ(LogCount("broken.txt could not be uploaded."), 1);
  client->Set(file, "SYNC");
  EXPECT_TRUE(PassWhen([&] { return !source->IsInError(file); }));
  EXPECT_EQ(tracker->Snapshot().failed, 0);
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  client->Set(file, "ERROR");
  EXPECT_TRUE(PassWhen([&] { return source->IsInError(file); }));
  EXPECT_EQ(tracker->Snapshot().failed, 1);
  EXPECT_EQ(Count(diagnostics, "broken.txt could not be synchronised"), 1);
  tracker->RemoveTransfers({file});
  EXPECT_EQ(tracker->Snapshot().failed, 0);
}

TEST_F(SyncClientSourceTest, PushesArriveOnlyForFoldersAskedAbout) {
  const std::string sub = dir.MakeFolder("cloud/later");
  StartClient();
  // The walk at registration asked about everything there, "later" too.
  const std::string file = cloud + "/later/new.txt";
  client->Set(file, "SYNC");  // nothing asked about "later/" itself yet
  EXPECT_FALSE(loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 0.5));
  dir.Write("cloud/later/new.txt", "x");
  tracker->QueueFile(file);
  Pass();  // asking subscribes
  ASSERT_TRUE(PassWhen([&] { return source->IsUploading(file); }));
  client->Set(file, "OK");
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_EQ(tracker->Snapshot().completed, 1);
  (void)sub;
}

TEST_F(SyncClientSourceTest, WhatTheClientSendsWhenFirstAskedIsInProgressAndCountedOnce) {
  const std::string file = Item("sending.bin");
  StartClient(0.3, false, {file});
  ASSERT_TRUE(PassAfterPush());  // the walk's answer, with no question of the tracker's
  EXPECT_EQ(tracker->GetTransfers(), std::vector<std::string>{file});
  client->Set(file, "OK");
  ASSERT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_EQ(tracker->Snapshot().completed, 1);
  EXPECT_EQ(LogCount("sending.bin"), 1);
  // A file that came after the walk is no upload found under way: its
  // status may come before its temporary file was seen (a download).
  const std::string later = Item("arrived.bin");
  client->Set(later, "SYNC");
  EXPECT_FALSE(loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 0.5));
}

TEST_F(SyncClientSourceTest, ASyncRunAsksAgainAboutEverythingUnderItsRoot) {
  const std::string file = Item("a.txt");
  StartClient();
  // (The fake answers on its own thread: the main loop has nothing to wake for.)
  const auto waitFor = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i, loop.RunOnce(0.01))
      if (done()) return true;
    return false;
  };
  ASSERT_TRUE(waitFor([&] { return client->Questions() > 0; }));
  const int before = client->Questions();
  client->UpdateView(cloud);
  EXPECT_TRUE(waitFor([&] { return client->Questions() > before; }));
  (void)file;
}

TEST_F(SyncClientSourceTest, AClientThatQuitsMidBatchLeavesNothingStuckOrCountedTwice) {
  StartClient();
  const std::string file = Item("big.iso");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();
  ASSERT_EQ(tracker->Snapshot().inProgress, 1);
  client->Quit();
  // Tracking goes on without the client: the transfer waits for it.
  ASSERT_TRUE(loop.RunUntil([&] { return !tracker->Snapshot().reachable; }, 5));
  EXPECT_FALSE(tracker->IsPaused());
  EXPECT_EQ(tracker->Snapshot().waitingFor, "Waiting: the Nextcloud client is not running.");
  client->Set(file, "OK");  // finished while nobody listened
  client->Restart();
  // Back: tracking goes on, and the item is asked about again.
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty(); }, 10));
  tracker->QueueFile(file);
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_EQ(tracker->Snapshot().inProgress, 0);
  EXPECT_EQ(tracker->Snapshot().completed, 1);
  Pass();
  EXPECT_EQ(LogCount("big.iso"), 1);
}

TEST_F(SyncClientSourceTest, TheAutomaticChoiceKeepsFollowingAClientThatQuits) {
  StartClient(0.3, true);
  EXPECT_EQ(source->Describe().name, "Nextcloud");
  const std::string file = Item("auto.txt");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();
  ASSERT_TRUE(PassWhen([&] { return source->IsUploading(file); }));
  client->Quit();
  // Not the attributes meanwhile: the user's client, not running.
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().connected; }, 5));
  EXPECT_EQ(source->Describe().name, "Nextcloud");
  Pass();
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
  client->Set(file, "OK");
  client->Restart();
  ASSERT_TRUE(loop.RunUntil([&] { return !source->Describe().roots.empty(); }, 10));
  tracker->QueueFile(file);
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_EQ(tracker->Snapshot().completed, 1);
}

TEST_F(SyncClientSourceTest, ARootThatVanishesLeavesNothingInProgressOrCompleted) {
  StartClient();
  const std::string file = Item("doomed.txt");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();
  ASSERT_TRUE(PassWhen([&] { return source->IsUploading(file); }));
  std::filesystem::remove_all(cloud);
  client->SendToAll("UNREGISTER_PATH:" + cloud + "\n");
  ASSERT_TRUE(loop.RunUntil([&] { return source->Describe().roots.empty(); }, 5));
  EXPECT_FALSE(source->IsInStore(file));
  for (int i = 0; i < 3; ++i) {
    tracker->QueueFile(file);
    Pass();
  }
  const TrackerSnapshot s = tracker->Snapshot();
  EXPECT_EQ(s.inProgress, 0);
  EXPECT_EQ(s.completed, 0);
}

TEST_F(SyncClientSourceTest, GarbageOverlongLinesAndPathsElsewhereChangeNothing) {
  StartClient();
  const std::string file = Item("kept.txt");
  client->Set(file, "SYNC");
  tracker->QueueFile(file);
  Pass();
  ASSERT_TRUE(PassWhen([&] { return source->IsUploading(file); }));  // the answer's push
  CaptureDiagnostics diagnostics;
  client->SendToAll("HELLO\nSTATUS:MAYBE:" + file + "\nSTATUS:OK:relative/path\nSTATUS:OK:" + cloud +
                    "/../escape\nSTATUS:OK:/elsewhere/x\nSTATUS:OK:" + cloud + "/bad\xff.txt\n" +
                    std::string(20000, 'A') + "STATUS:OK:" + file + "\n");
  for (int i = 0; i < 3000; ++i) client->SendToAll("STATUS:OK:/elsewhere/" + std::to_string(i) + "\n");
  EXPECT_FALSE(loop.RunUntil([&] { return tracker->GetQueueSize() > 0; }, 0.8));
  EXPECT_FALSE(source->IsUploaded(file));  // the OK at the end of the long line was dropped with it
  EXPECT_EQ(Count(diagnostics, "not understood"), 1);
  EXPECT_EQ(Count(diagnostics, "over-long line"), 1);
  client->Set(file, "OK");  // the connection still works
  EXPECT_TRUE(PassWhen([&] { return source->IsUploaded(file); }));
  EXPECT_EQ(tracker->Snapshot().completed, 1);
}

TEST_F(SyncClientSourceTest, ASocketOfAnotherKindOrOwnerIsRefused) {
  CaptureDiagnostics diagnostics;
  dir.Write("notasocket", "x");
  {
    auto s = MakeSyncClientSource({"Nextcloud", dir / "notasocket", ".nextcloud"});
    EXPECT_TRUE(RunUntilLine(diagnostics, "is not a socket"));
    EXPECT_FALSE(s->Describe().connected);
  }
  if (::geteuid() == 0) {
    // Root can make a socket that belongs to somebody else.
    FakeSyncClient other(socketPath, {cloud});
    ASSERT_EQ(::chown(socketPath.c_str(), 65534, 65534), 0);
    auto s = MakeSyncClientSource({"Nextcloud", socketPath, ".nextcloud"});
    EXPECT_TRUE(RunUntilLine(diagnostics, "belongs to another user"));
    EXPECT_EQ(other.Connections(), 0);
  }
}

TEST_F(SyncClientSourceTest, AClientThatNeverAnswersBlocksNobodyAndIsSaidOnce) {
  // Connections are taken (the backlog) and never read from.
  const int mute = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(mute, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(mute, 4), 0);
  CaptureDiagnostics diagnostics;
  SyncClientOptions options{"Nextcloud", socketPath, ".nextcloud"};
  options.silenceSeconds = 0.3;
  auto s = MakeSyncClientSource(options);
  ASSERT_TRUE(RunUntilLine(diagnostics, "connected to the client"));
  const auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(s->IsUploaded(cloud + "/f" + std::to_string(i)));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_TRUE(RunUntilLine(diagnostics, "has not answered"));
  ::usleep(500000);
  EXPECT_EQ(Count(diagnostics, "has not answered"), 1);
  s.reset();
  ::close(mute);
}

TEST(SyncClientProtocol, ParsesWhatTheClientsSay) {
  auto m = ParseClientLine("STATUS:OK+SWM:/home/u/Nextcloud/a:b.txt");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->kind, ClientMessage::Kind::Status);
  EXPECT_EQ(m->state, ClientItemState::Ok);
  EXPECT_EQ(m->path, "/home/u/Nextcloud/a:b.txt");  // colons in a path stay
  m = ParseClientLine("REGISTER_PATH:/home/u/Nextcloud/\r");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->path, "/home/u/Nextcloud");
  EXPECT_EQ(ParseClientLine("VERSION:3.7.3git:1.1")->text, "3.7.3git:1.1");
  for (const char* bad : {"", "STATUS", "STATUS:OK", "STATUS:FINE:/a", "REGISTER_PATH:a", "UPDATE_VIEW:/a/../b",
                          "STATUS:OK:/a/./b", "NOISE:/a"})
    EXPECT_FALSE(ParseClientLine(bad)) << bad;
  EXPECT_FALSE(ParseClientLine(std::string("STATUS:OK:/a\0b", 14)));
  EXPECT_FALSE(ParseClientLine("STATUS:OK:/caf\xc3"));
  EXPECT_FALSE(ParseClientLine("STATUS:OK:/a\nSTATUS:OK:/b"));  // one line, one message
}

}  // namespace
}  // namespace vantorel::test
