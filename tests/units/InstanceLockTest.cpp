#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/TempDir.h"
#include "units/runtime/InstanceLock.h"

namespace vantorel {
namespace {

using test::TempDir;

TEST(InstanceLock, OneHolderAtATimeAndTheOthersLearnWhoHoldsIt) {
  TempDir dir;
  const std::string path = dir / "run/vantorel/instance.lock";
  pid_t holder = -1;
  std::string error;
  auto first = InstanceLock::Acquire(path, &holder, &error);
  ASSERT_TRUE(first) << error;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "run/vantorel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A second taker (another open file, as another process has) is refused.
  EXPECT_FALSE(InstanceLock::Acquire(path, &holder, &error));
  EXPECT_EQ(holder, ::getpid());
  EXPECT_EQ(error, "");

  // Released with its holder: a crashed instance leaves nothing that blocks.
  first.reset();
  auto next = InstanceLock::Acquire(path, &holder, &error);
  EXPECT_TRUE(next);
  std::ifstream in(path);
  pid_t written = 0;
  in >> written;
  EXPECT_EQ(written, ::getpid());
}

TEST(InstanceLock, LivesInTheRuntimeFolderElseInTheSupportFolder) {
  TempDir dir;
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  EXPECT_EQ(InstanceLock::DefaultPath("/support"), dir.path() + "/vantorel/instance.lock");
  ::setenv("XDG_RUNTIME_DIR", (dir / "missing").c_str(), 1);
  EXPECT_EQ(InstanceLock::DefaultPath("/support"), "/support/instance.lock");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLock::DefaultPath("/support"), "/support/instance.lock");
  if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace vantorel
