// rclone mounts as the tracker's source, over a made-up mount table,
// mounting process and cache holding 10,000 records of files waiting:
// - the source's answer to "is it uploading" for each file, against a raw
//   stat of its record (the least any answer costs);
// - all 10,000 records rewritten clean at once (rclone having sent them):
//   the main loop's longest wait while the source's pushes reach it (the
//   lateness of a 2 ms timer; target 50 ms), and how long until every file
//   was told.

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../LatenessProbe.h"
#include "sources/rclone/RcloneSource.h"
#include "units/runtime/PollMainLoop.h"

namespace {

using namespace vantorel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr int kFiles = 10000;
constexpr const char* kDirty = R"({"ModTime":"2026-12-10T12:06:01Z","Size":3,"Rs":[],"Fingerprint":"","Dirty":true})";
constexpr const char* kClean = R"({"ModTime":"2026-12-10T12:06:01Z","Size":3,"Rs":[],"Fingerprint":"3","Dirty":false})";


}  // namespace

int main() {
  const fs::path base = fs::temp_directory_path() / ("vantorel-rclone-bench-" + std::to_string(::getpid()));
  fs::remove_all(base);
  const std::string mount = (base / "mnt").string();
  const std::string records = (base / "cache/vfsMeta/cloud").string();
  fs::create_directories(mount);
  fs::create_directories(base / "proc/4242");
  std::ofstream(base / "proc/4242/cmdline") << std::string("rclone\0mount\0cloud:\0mnt\0--cache-dir\0cache", 41);
  std::ofstream(base / "proc/4242/environ") << "HOME=/nowhere";
  fs::create_directory_symlink(base, base / "proc/4242/cwd");
  std::ofstream(base / "mountinfo") << "46 28 0:41 / " << mount << " rw - fuse.rclone cloud: rw\n";
  std::vector<std::string> files, recordFiles;
  for (int i = 0; i < kFiles; ++i) {
    const std::string relative = "d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt";
    fs::create_directories(fs::path(records + "/" + relative).parent_path());
    std::ofstream(records + "/" + relative) << kDirty;
    files.push_back(mount + "/" + relative);
    recordFiles.push_back(records + "/" + relative);
  }
  ::setenv("XDG_CACHE_HOME", (base / "xdg").c_str(), 1);

  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  RcloneOptions options;
  options.mountTable = (base / "mountinfo").string();
  options.procRoot = (base / "proc").string();
  auto source = MakeRcloneSource(options);
  std::set<std::string> heard;
  ItemStateSource::Listener listener;
  listener.pathsChanged = [&](const std::vector<std::string>& paths) { heard.insert(paths.begin(), paths.end()); };
  source->StartPushing(loop, listener);
  const bool started = loop.RunUntil([&] { return heard.size() >= static_cast<std::size_t>(kFiles); }, 30);
  std::printf("%d waiting files %s at start\n", kFiles, started ? "told" : "NOT all told");

  // Answers against a raw stat of each record.
  auto start = Clock::now();
  int uploading = 0;
  for (const std::string& file : files) uploading += source->IsUploading(file) ? 1 : 0;
  const double answers = Ms(Clock::now() - start);
  start = Clock::now();
  int present = 0;
  struct stat st {};
  for (const std::string& record : recordFiles) present += ::stat(record.c_str(), &st) == 0 ? 1 : 0;
  const double stats = Ms(Clock::now() - start);
  std::printf("is it uploading, %d files: %.1f ms (%.2f us each, %d uploading); a raw stat of each record: %.1f ms; "
              "ratio %.1f\n",
              kFiles, answers, 1000 * answers / kFiles, uploading, stats, stats > 0 ? answers / stats : 0.0);

  // All sent at once.
  heard.clear();
  bench::LatenessProbe probe(loop);
  loop.RunUntil([] { return false; }, 0.3);
  const double idle = probe.worst_;
  probe.worst_ = 0;
  start = Clock::now();
  // rclone's part, on a thread of its own: the main loop only hears.
  std::thread writer([&] {
    for (const std::string& record : recordFiles) std::ofstream(record) << kClean;
  });
  const bool all = loop.RunUntil([&] { return heard.size() >= static_cast<std::size_t>(kFiles); }, 30);
  const double took = Ms(Clock::now() - start);
  writer.join();
  loop.RunUntil([] { return false; }, 0.3);
  int left = 0;
  for (const std::string& file : files) left += source->IsUploading(file) ? 1 : 0;
  std::printf("%d records turned clean at once: %s in %.0f ms (%d still uploading); the main loop's longest wait "
              "%.1f ms (idle: %.1f ms; target 50 ms)\n",
              kFiles, all ? "all told" : "NOT all told", took, left, probe.worst_, idle);

  source.reset();
  MainLoop::SetMain(nullptr);
  fs::remove_all(base);
  return started && all && left == 0 && probe.worst_ <= 50 ? 0 : 1;
}
