// The desktop's opener started apart: a hanging or looping opener never
// holds the caller, a failing one is said once.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/runtime/DetachedOpener.h"

namespace vantorel {
namespace {

std::string Script(const test::TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.Write(name, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 300 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return condition();
}

TEST(DetachedOpener, AHangingOpenerHoldsNobodyAndAFailingOneIsSaidOnce) {
  test::TempDir dir;
  test::CaptureDiagnostics diagnostics;
  const std::string started = dir / "started";
  SetOpenerForTesting(Script(dir, "hangs", "echo \"$1\" >> '" + started + "'; exec sleep 3"), 0.2);
  const auto before = std::chrono::steady_clock::now();
  OpenDetached("/some/folder");
  OpenDetached("/some/folder");  // still being opened: not again
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
  ASSERT_TRUE(Eventually([&] { return std::ifstream(started).peek() != EOF; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::ifstream lines(started);
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(lines), {}, '\n'), 1);

  SetOpenerForTesting(Script(dir, "finds-nothing", "exit 3"), 5);
  OpenDetached("/a/file.txt");
  ASSERT_TRUE(Eventually([&] { return diagnostics.Text().find("Nothing could open") != std::string::npos; }));
  OpenDetached("/a/file.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(diagnostics.Text(), "Nothing could open /a/file.txt: " + dir / "finds-nothing" +
                                    " found no program for it.\n");  // once

  SetOpenerForTesting(dir / "missing-opener", 5);
  OpenDetached("https://example.org/help");
  EXPECT_TRUE(Eventually([&] { return diagnostics.Text().find("cannot start " + dir / "missing-opener") != std::string::npos; }));
  SetOpenerForTesting("", 15);
}

}  // namespace
}  // namespace vantorel
