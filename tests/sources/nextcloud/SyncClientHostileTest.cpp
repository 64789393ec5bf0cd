// A sync client on the socket that lies or floods: roots that are the
// whole file system or the system's, and a client registering and
// unregistering a large root, asking for view updates and sending states
// without pause while Vantorel quits.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sources/nextcloud/SyncClientSource.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel::test {
namespace {

// The client's end: a listening socket, the one connection the source
// makes, and what the source has sent on it.
class RawClient {
public:
  explicit RawClient(const std::string& path) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(listener_, 4);
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
    ::close(listener_);
  }
  bool Accept() {
    pollfd wait{listener_, POLLIN, 0};
    if (::poll(&wait, 1, 5000) != 1) return false;
    fd_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return fd_ >= 0;
  }
  // Sends what the socket takes now; false once the source has gone.
  bool Send(const std::string& bytes) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return n >= 0 || errno == EAGAIN;
  }
  std::string Read(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[65536];
    while (std::chrono::steady_clock::now() < end) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) read_.append(buffer, static_cast<std::size_t>(n));
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return read_;
  }

private:
  int listener_ = -1;
  int fd_ = -1;
  std::string read_;
};

SyncClientOptions Options(const std::string& socket) {
  SyncClientOptions options{"Nextcloud", socket, ".nextcloud"};
  options.reportAbsence = false;
  return options;
}

TEST(SyncClientHostile, TheWholeFileSystemOrTheSystemsFoldersAreNoRoot) {
  TempDir dir;
  RawClient client(dir / "socket");
  CaptureDiagnostics diagnostics;
  auto source = MakeSyncClientSource(Options(dir / "socket"));
  ASSERT_TRUE(client.Accept());
  client.Send("REGISTER_PATH:/\nREGISTER_PATH:/proc\nREGISTER_PATH:/usr/share\nREGISTER_PATH:/\n");
  const std::string asked = client.Read(300);
  EXPECT_EQ(asked.find("RETRIEVE_"), std::string::npos) << asked;  // nothing walked or asked about
  EXPECT_TRUE(source->Describe().roots.empty());
  const std::string text = diagnostics.Text();
  EXPECT_NE(text.find("not following /: it is the whole file system."), std::string::npos) << text;
  EXPECT_EQ(text.find("not following /:"), text.rfind("not following /:"));  // said once
  EXPECT_NE(text.find("not following /proc: it is a system folder"), std::string::npos) << text;
}

TEST(SyncClientHostile, RootsTakenBeforeAnyoneListenedStillChangeAfterwards) {
  TempDir dir;
  const std::string root = dir.MakeFolder("root");
  RawClient client(dir / "socket");
  PollMainLoop loop;
  auto source = MakeSyncClientSource(Options(dir / "socket"));
  ASSERT_TRUE(client.Accept());
  client.Send("REGISTER_PATH:" + root + "\n");
  for (int i = 0; i < 500 && source->Describe().roots.empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(source->Describe().roots.empty());
  std::vector<std::string> heard{"nothing yet"};
  ItemStateSource::Listener listener;
  listener.rootsChanged = [&](const std::vector<std::string>& roots) { heard = roots; };
  source->StartPushing(loop, listener);
  EXPECT_EQ(heard, std::vector<std::string>{root});  // told at once
  client.Send("UNREGISTER_PATH:" + root + "\n");
  EXPECT_TRUE(loop.RunUntil([&] { return heard.empty(); }, 5));
  source->StopPushing();
}

TEST(SyncClientHostile, QuitEndsWithinASecondWhateverTheClientSends) {
  TempDir dir;
  const std::string root = dir.MakeFolder("root");
  for (int i = 0; i < 2000; ++i) std::filesystem::create_directories(root + "/d" + std::to_string(i));
  RawClient client(dir / "socket");
  CaptureDiagnostics diagnostics;
  auto source = MakeSyncClientSource(Options(dir / "socket"));
  ASSERT_TRUE(client.Accept());
  // A client that flaps its root and floods the socket, without pause.
  std::string flood;
  for (int i = 0; i < 200; ++i)
    flood += "REGISTER_PATH:" + root + "\nUPDATE_VIEW:" + root + "\nSTATUS:SYNC:" + root + "/d" + std::to_string(i) +
             "\nUNREGISTER_PATH:" + root + "\n";
  std::atomic<bool> stop{false};
  std::thread flooding([&] {
    while (!stop && client.Send(flood)) {
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto quitting = std::chrono::steady_clock::now();
  source.reset();
  const auto took = std::chrono::steady_clock::now() - quitting;
  stop = true;
  flooding.join();
  EXPECT_LT(took, std::chrono::seconds(1));
}

}  // namespace
}  // namespace vantorel::test
