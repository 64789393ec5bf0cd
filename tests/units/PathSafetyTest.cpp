// Paths and roots from a sync client that lies, and whose listener is
// behind a loopback port.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "support/ListenerAs.h"
#include "support/TempDir.h"
#include "units/fs/PathSafety.h"
#include "units/net/ListenerOwner.h"

namespace vantorel {
namespace {

TEST(PathSafety, NamesThatStepOutOfTheirFolderOrHideBytesAreRefused) {
  const std::pair<std::string, bool> relative[] = {
      {"report.txt", true},      {"a/b c/d.txt", true},   {"..hidden", true},     {"", false},
      {"/etc/passwd", false},    {"../../etc/passwd", false}, {"a/../../b", false}, {"./a", false},
      {"a//b", false},           {"a/", false},           {std::string("a\0b", 3), false},
      {"a\nb", false},           {"a\x7f", false},        {"a/.", false}};
  for (const auto& [path, plain] : relative) EXPECT_EQ(IsPlainRelativePath(path), plain) << path;
  const std::pair<std::string, bool> absolute[] = {{"/", true},         {"/home/u/Sync", true}, {"/a/", false},
                                                   {"/a/../b", false},  {"//a", false},         {"a", false},
                                                   {"/a\tb", false}};
  for (const auto& [path, plain] : absolute) EXPECT_EQ(IsPlainAbsolutePath(path), plain) << path;
  EXPECT_TRUE(IsWithinFolder("/a/b/c", "/a/b"));
  EXPECT_TRUE(IsWithinFolder("/a/b", "/a/b"));
  EXPECT_FALSE(IsWithinFolder("/a/bc", "/a/b"));
}

TEST(PathSafety, ARootIsAFolderOfTheUsersOwnAndNotTheSystem) {
  test::TempDir dir;
  const std::string own = dir.MakeFolder("Sync");
  EXPECT_FALSE(WhyNotASyncRoot(own)) << *WhyNotASyncRoot(own);
  EXPECT_FALSE(WhyNotASyncRoot(own + "/not-yet-there"));  // watched for until it appears
  for (const std::string refused : {"/", "/proc", "/sys/kernel", "/etc", "/usr/share", "/home", "/tmp", "relative",
                                    "/a/../b"})
    EXPECT_TRUE(WhyNotASyncRoot(refused)) << refused;
  EXPECT_EQ(WhyNotASyncRoot(dir.Write("file.txt", "x")).value_or(""), "it is not a folder");
}

std::optional<uid_t> OwnerOfListenerOn(int port, std::string* problem) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto owner = ListenerOwner(fd, problem);
  ::close(fd);
  return owner;
}

TEST(ListenerOwner, TheUserBehindALoopbackPortOrAUnixSocket) {
  std::string problem;
  {
    test::ListenerAs mine(::geteuid());
    EXPECT_EQ(OwnerOfListenerOn(mine.Port(), &problem), ::geteuid()) << problem;
  }
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_EQ(ListenerOwner(pair[0], &problem), ::geteuid());
  ::close(pair[0]);
  ::close(pair[1]);
  if (::geteuid() != 0) GTEST_SKIP() << "another user's listener needs root to start";
  test::ListenerAs stranger(65534);
  EXPECT_EQ(OwnerOfListenerOn(stranger.Port(), &problem), 65534u) << problem;
}

}  // namespace
}  // namespace vantorel
