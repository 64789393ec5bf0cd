// The control socket on a private folder, served by this thread's main loop
// and reached by plain client sockets: the guard, the framing, and peers
// that misbehave.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "units/runtime/ControlSocket.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel {
namespace {

using test::TempDir;

class ControlSocketTest : public ::testing::Test {
protected:
  void SetUp() override {
    MainLoop::SetMain(&loop);
    ::chmod(dir.path().c_str(), 0700);
    path = dir / "run/control";
  }
  void TearDown() override {
    for (const int fd : clients) ::close(fd);
    server.reset();
    MainLoop::SetMain(nullptr);
  }
  // Serves, answering "echo X" with "ok X" and "big N" with N bytes.
  void Serve() {
    ControlSocket::Outcome outcome;
    std::string error;
    server = ControlSocket::Listen(path, &outcome, &error);
    ASSERT_TRUE(server) << error;
    server->Serve(loop, [this](ControlSocket::ConnectionId id, const std::string& line) {
      requests.push_back(line);
      if (line.rfind("big ", 0) == 0)
        server->Send(id, std::string(std::stoul(line.substr(4)), 'b'));
      else
        server->Send(id, "ok " + line);
    });
  }
  int Connect() {
    std::string error;
    const int fd = ConnectControlSocket(path, &error);
    EXPECT_GE(fd, 0) << error;
    clients.push_back(fd);
    return fd;
  }
  // What the server wrote back, up to its first end of line (or its end).
  std::string Answer(int fd) {
    std::string got;
    bool closed = false;
    loop.RunUntil(
        [&] {
          char buffer[4096];
          const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
          if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
          closed = n == 0;
          return closed || got.find('\n') != std::string::npos;
        },
        5);
    return got;
  }
  bool ClosedByServer(int fd) {
    return loop.RunUntil(
        [&] {
          char buffer[4096];
          const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
          return n == 0 || (n < 0 && errno != EAGAIN);
        },
        5);
  }
  static void Write(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
  }

  TempDir dir;
  PollMainLoop loop;
  std::string path;
  std::unique_ptr<ControlSocket> server;
  std::vector<std::string> requests;
  std::vector<int> clients;
};

TEST_F(ControlSocketTest, OneInstanceHoldsItAndAStaleSocketIsReplaced) {
  // A run that ended without cleaning up (killed): its socket stays behind.
  const pid_t child = ::fork();
  if (child == 0) {
    ControlSocket::Outcome outcome;
    std::string error;
    auto crashed = ControlSocket::Listen(path, &outcome, &error);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  ASSERT_TRUE(S_ISSOCK(st.st_mode));
  std::string error;
  EXPECT_LT(ConnectControlSocket(path, &error), 0);
  EXPECT_EQ(error, "no Vantorel is running");

  Serve();
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::lstat((dir / "run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const int fd = Connect();
  Write(fd, "echo hello\n");
  EXPECT_EQ(Answer(fd), "ok echo hello\n");

  // A second taker is told who runs, and takes nothing.
  ControlSocket::Outcome outcome;
  EXPECT_FALSE(ControlSocket::Listen(path, &outcome, &error));
  EXPECT_EQ(outcome, ControlSocket::Outcome::AlreadyRunning);
  EXPECT_EQ(error, "Vantorel is already running (process " + std::to_string(::getpid()) + ")");

  // Gone in order: the socket goes with it.
  server.reset();
  EXPECT_NE(::lstat(path.c_str(), &st), 0);
}

TEST_F(ControlSocketTest, AFolderOpenToOthersOrAPathTooLongIsRefusedInOneLine) {
  ControlSocket::Outcome outcome;
  std::string error;
  const std::string open = dir.MakeFolder("open");
  ::chmod(open.c_str(), 0755);
  EXPECT_FALSE(ControlSocket::Listen(open + "/control", &outcome, &error));
  EXPECT_EQ(outcome, ControlSocket::Outcome::Failed);
  EXPECT_EQ(error, open + " is open to other users (mode 0755); refusing to put the control socket there");
  const std::string deep = dir.path() + "/" + std::string(120, 'd') + "/control";
  EXPECT_FALSE(ControlSocket::Listen(deep, &outcome, &error));
  EXPECT_EQ(error.rfind("the control socket's path is too long for a Unix socket (", 0), 0u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  if (::getuid() == 0) {  // root can hand a folder to someone else
    const std::string theirs = dir.MakeFolder("theirs");
    ::chmod(theirs.c_str(), 0700);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(ControlSocket::Listen(theirs + "/control", &outcome, &error));
    EXPECT_EQ(error, theirs + " belongs to another user (uid 65534); refusing to put the control socket there");
  }
  const std::string blocked = dir.MakeFolder("blocked");
  ::chmod(blocked.c_str(), 0700);
  dir.Write("blocked/control", "a file");
  EXPECT_FALSE(ControlSocket::Listen(blocked + "/control", &outcome, &error));
  EXPECT_EQ(error, blocked + "/control is in the way (it is not a socket); refusing to replace it");
}

TEST_F(ControlSocketTest, LinesArriveWholeAndBadPeersNeverHoldTheInstance) {
  Serve();
  // Two requests in one write, one request in three writes.
  const int a = Connect();
  Write(a, "echo one\necho two\n");
  EXPECT_EQ(Answer(a), "ok echo one\nok echo two\n");
  Write(a, "ec");
  const int idle = Connect();  // half a request, never finished
  Write(idle, "sta");
  Write(a, "ho thr");
  Write(a, "ee\r\n");
  EXPECT_EQ(Answer(a), "ok echo three\n");

  // Too long: one error, and the connection ends.
  const int flood = Connect();
  Write(flood, std::string(ControlSocket::kLongestRequest + 10, 'x'));
  EXPECT_EQ(Answer(flood), "error request too long (at most 4096 bytes)\n");
  EXPECT_TRUE(ClosedByServer(flood));

  // A peer that never reads its answers is dropped, not waited for.
  const int deaf = Connect();
  for (int i = 0; i < 40; ++i) Write(deaf, "big 60000\n");
  loop.RunUntil([&] { return server->ConnectionCount() == 2; }, 5);
  EXPECT_EQ(server->ConnectionCount(), 2u) << "the deaf peer is gone; the half request stays";

  // A burst of connections: every one answered or turned away, in order.
  std::vector<int> burst;
  for (int i = 0; i < 600; ++i) {
    std::string error;
    const int fd = ConnectControlSocket(path, &error);
    if (fd < 0) break;  // the listen queue is full: the client is told
    clients.push_back(fd);
    burst.push_back(fd);
    Write(fd, "echo burst\n");
    if (i % 50 == 0) loop.RunOnce(0);
  }
  int answered = 0, busy = 0;
  for (const int fd : burst) {
    const std::string answer = Answer(fd);
    answered += answer == "ok echo burst\n";
    busy += answer == "error busy: too many connections\n";
  }
  EXPECT_EQ(answered + busy, static_cast<int>(burst.size()));
  EXPECT_GT(answered, 100);
  // Once they leave, the instance answers as before.
  for (const int fd : burst) {
    ::close(fd);
    std::erase(clients, fd);
  }
  loop.RunUntil([&] { return server->ConnectionCount() <= 2; }, 5);
  const int after = Connect();
  Write(after, "echo still here\n");
  EXPECT_NE(Answer(after).find("still here"), std::string::npos);
}

TEST_F(ControlSocketTest, WithNoDescriptorLeftWaitingPeersAreToldBusyNotLeftSpinning) {
  Serve();
  std::vector<int> waiting;
  for (int i = 0; i < 5; ++i) waiting.push_back(Connect());  // queued, not yet accepted
  // Every descriptor the process may have is taken (under a lowered limit).
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const rlimit low{256, saved.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const int base = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<int> filler;
  for (int fd; (fd = ::fcntl(base, F_DUPFD_CLOEXEC, 0)) >= 0;) filler.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  // Accepting fails with EMFILE: each waiting peer still gets an answer, and
  // then the listener is quiet (left readable, the loop would spin on it).
  for (const int fd : waiting) EXPECT_EQ(Answer(fd), "error busy: this Vantorel has no descriptors left\n");
  EXPECT_EQ(server->ConnectionCount(), 0u);
  for (const int fd : filler) ::close(fd);
  ::close(base);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  const int after = Connect();
  Write(after, "echo back\n");
  EXPECT_EQ(Answer(after), "ok echo back\n");
}

}  // namespace
}  // namespace vantorel
