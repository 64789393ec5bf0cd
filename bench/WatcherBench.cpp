// Measures the directory watcher on a large tree:
// - the time to watch a tree of 20,000 folders and 200,000 files, against a
//   bare walk that adds one inotify watch per folder;
// - kernel watches and user memory per folder;
// - a burst of 100,000 new files: how many paths reach the tracker's queue,
//   how long after the last creation, and the longest the main loop was
//   kept from other work in one go.
//
//   scripts/build bench && build/bench/bin/vantorel_watcher_bench
//
// VANTOREL_BENCH_SCALE divides the sizes (2 gives half), for a quick run.

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "units/fs/DirectoryWatcher.h"
#include "engine/Tracker.h"
#include "sources/attributes/AttributeItemSource.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace {

using namespace vantorel;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long ResidentKilobytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void MakeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  ::close(fd);
}

// root/dA/dB (A < 200, B < 100 at full size): folders with ten files each.
std::size_t BuildTree(const std::string& root, int scale) {
  std::size_t folders = 1;
  ::mkdir(root.c_str(), 0755);
  for (int a = 0; a < 200 / scale; ++a) {
    const std::string top = root + "/d" + std::to_string(a);
    ::mkdir(top.c_str(), 0755);
    ++folders;
    for (int b = 0; b < 100; ++b) {
      const std::string sub = top + "/d" + std::to_string(b);
      ::mkdir(sub.c_str(), 0755);
      ++folders;
      for (int f = 0; f < 10; ++f) MakeFile(sub + "/f" + std::to_string(f));
    }
  }
  return folders;
}

std::size_t BareWatch(int fd, const std::string& folder) {
  if (::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                                 IN_MOVED_FROM | IN_MOVED_TO | IN_DONT_FOLLOW | IN_ONLYDIR) < 0)
    return 0;
  std::size_t count = 1;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return count;
  std::vector<std::string> children;
  while (const dirent* e = ::readdir(dir))
    if (e->d_type == DT_DIR && std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
      children.push_back(folder + "/" + e->d_name);
  ::closedir(dir);
  for (const auto& child : children) count += BareWatch(fd, child);
  return count;
}

}  // namespace

int main() {
  const char* scaleText = std::getenv("VANTOREL_BENCH_SCALE");
  const int scale = std::max(1, scaleText ? std::atoi(scaleText) : 1);
  char pattern[] = "/tmp/vantorel-watch-bench-XXXXXX";
  const std::string base = ::mkdtemp(pattern);
  const std::string root = base + "/tree";
  std::printf("Building %d folders with ten files each...\n", 20000 / scale);
  const std::size_t folders = BuildTree(root, scale);

  // The bare loop, twice: the first run warms the caches for both.
  double bare = 0;
  for (int run = 0; run < 2; ++run) {
    const int fd = ::inotify_init1(IN_CLOEXEC);
    const auto start = Clock::now();
    BareWatch(fd, root);
    bare = Seconds(Clock::now() - start);
    ::close(fd);
  }

  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  const long before = ResidentKilobytes();
  const auto start = Clock::now();
  auto watcher = DirectoryWatcher::Create({root}, &loop, [](const std::vector<std::string>&) {});
  watcher->WaitUntilWatching(600);
  const double ours = Seconds(Clock::now() - start);
  const long after = ResidentKilobytes();
  const auto stats = watcher->GetStatistics();
  std::printf("\nWatching %zu folders (%zu files): %.3f s; bare walk + inotify_add_watch: %.3f s; ratio %.2fx "
              "(target 1.5x)\n",
              folders, (folders - 1 - 200 / scale) * 10, ours, bare, ours / bare);
  std::printf("Kernel watches: %zu (one per folder); user memory: %.0f bytes per folder\n", stats.watchedDirectories,
              1024.0 * static_cast<double>(after - before) / static_cast<double>(folders));
  watcher.reset();

  // The burst, through a tracker whose main loop runs on its own thread.
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(base + "/prefs.plist"));
  PopulateDefaultPreferences(NSPrefs());
  const std::string burst = base + "/burst";
  ::mkdir(burst.c_str(), 0755);
  TICloudTracker::Options options;
  options.source = MakeAttributeItemSource();
  options.startPollThread = false;
  auto tracker = MakeRef<TICloudTracker>(options);
  std::thread mainThread;
  {
    tracker->SetDirectory(burst);
    tracker->Start();
    tracker->GetEventStream()->WaitUntilWatching(60);
  }
  mainThread = std::thread([&] { loop.Run(); });
  while (loop.IsMainThread()) std::this_thread::yield();

  // A probe measures how long the main loop leaves a posted task waiting.
  std::atomic<bool> probing{true};
  std::atomic<double> longestWait{0};
  std::thread probe([&] {
    while (probing) {
      const auto posted = Clock::now();
      std::atomic<bool> ran{false};
      loop.Post([&] {
        const double waited = Seconds(Clock::now() - posted);
        if (waited > longestWait) longestWait = waited;
        ran = true;
      });
      while (!ran && probing) std::this_thread::sleep_for(std::chrono::microseconds(200));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  const int files = 100000 / scale;
  for (int i = 0; i < files; ++i) MakeFile(burst + "/n" + std::to_string(i));
  const auto lastCreated = Clock::now();
  int queued = 0;
  for (;;) {
    loop.PostAndWait([&] { queued = tracker->GetQueueSize(); });
    if (queued >= files || Seconds(Clock::now() - lastCreated) > 120) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const double latency = Seconds(Clock::now() - lastCreated);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // anything late would show now
  loop.PostAndWait([&] { queued = tracker->GetQueueSize(); });
  probing = false;
  probe.join();
  std::printf("Burst of %d new files: %d paths in the queue, all there %.3f s after the last creation; longest "
              "main-loop wait %.1f ms (target 50 ms)\n",
              files, queued, latency, longestWait * 1000);
  loop.PostAndWait([&] { tracker.reset(); });
  loop.Quit();
  mainThread.join();
  TUserDefaults::SetStandard(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  return 0;
}
