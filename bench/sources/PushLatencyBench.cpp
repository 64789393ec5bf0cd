// How soon the faces hear what a sync client says, through the tracker's
// own poll thread (paced as when running): the time from the client's state
// line for a file ("SYNC", then "OK") to the tracker's status change on the
// main loop, against the poll interval it would otherwise wait out; and the
// time from the client coming back (its socket listening again) to the
// source following it. Targets: 100 ms and 2 s.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Tracker.h"
#include "engine/TrackerDelegate.h"
#include "sources/nextcloud/SyncClientSource.h"
#include "support/FakeSyncClient.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/PollMainLoop.h"

namespace {

using namespace vantorel;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Counts the status changes the tracker tells, with the number in progress.
class Heard final : public TICloudTrackerDelegate {
public:
  void trackerStatusChanged(TICloudTracker* tracker) override { inProgress = tracker->Snapshot().inProgress; }
  void trackerError(TICloudTracker*, const std::string&) override {}
  void trackerDebugInfo(TICloudTracker*, const PlistValue::Dictionary&) override {}
  int inProgress = -1;
};

// Runs the loop in 10 ms slices until `done` (a source's state changes with
// nothing posted to the loop); false after `seconds`.
template <typename Done>
bool WaitFor(PollMainLoop& loop, Done done, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > end) return false;
    loop.RunUntil([] { return false; }, 0.01);
  }
  return true;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/vantorel-latency-bench-XXXXXX";
  const std::string base = ::mkdtemp(pattern);
  const std::string root = base + "/Nextcloud";
  std::filesystem::create_directories(root);
  std::vector<std::string> files;
  for (int f = 0; f < 10; ++f) {
    files.push_back(root + "/document-" + std::to_string(f) + ".txt");
    const int fd = ::open(files.back().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && ::write(fd, "x", 1) != 1) std::printf("could not write %s\n", files.back().c_str());
    ::close(fd);  // (an empty file is never a transfer)
  }
  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(base + "/prefs.plist"));

  auto client = std::make_unique<test::FakeSyncClient>(base + "/socket", std::vector<std::string>{root});
  for (const std::string& file : files) client->Set(file, "OK");
  TICloudTracker::Options options;
  options.settings.includePatterns = {".*"};
  options.source = MakeSyncClientSource({"Nextcloud", base + "/socket", ".nextcloud"});
  auto tracker = MakeRef<TICloudTracker>(options);
  Heard heard;
  tracker->SetDelegate(&heard);
  tracker->SetDirectory(root);
  tracker->Start();
  loop.RunUntil([&] { return options.source->IsUploaded(files.back()); }, 30);
  loop.RunUntil([] { return false; }, 3);  // the walk's answers examined, the pace grown quiet

  // A file starts and ends uploading: the client's word to the faces.
  std::vector<double> started, ended;
  for (const std::string& file : files) {
    loop.RunUntil([] { return false; }, 1.5);
    auto start = Clock::now();
    client->Set(file, "SYNC");
      if (loop.RunUntil([&] { return heard.inProgress == 1; }, 30)) started.push_back(Ms(Clock::now() - start));
    start = Clock::now();
    client->Set(file, "OK");
    if (loop.RunUntil([&] { return heard.inProgress == 0; }, 30)) ended.push_back(Ms(Clock::now() - start));
  }
  std::printf("client's word to the status change (median of %zu / %zu): SYNC %.1f ms, OK %.1f ms; the poll "
              "interval it no longer waits out: %.1f s (target 100 ms)\n",
              started.size(), ended.size(), Median(started), Median(ended), tracker->GetPollInterval());

  // The client quits and comes back, after a second and after long enough
  // for the retries to have grown (the socket's folder is watched).
  bool backInTime = true;
  for (const auto& [away, tries] : {std::pair{1.0, 3}, std::pair{40.0, 1}}) {
    std::vector<double> back;
    for (int i = 0; i < tries; ++i) {
      client->Quit();
      if (!WaitFor(loop, [&] { return !options.source->Describe().connected; }, 30)) break;
      loop.RunUntil([] { return false; }, away);
      const auto start = Clock::now();
      client->Restart();
      if (WaitFor(loop, [&] { return options.source->Describe().connected; }, 60))
        back.push_back(Ms(Clock::now() - start));
    }
    std::printf("client back after %.0f s away to following it (median of %zu): %.0f ms (target 2000 ms)\n", away,
                back.size(), Median(back));
    backInTime = backInTime && !back.empty() && Median(back) <= 2000;
  }

  tracker->Shutdown();
  tracker.reset();
  client.reset();
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  std::filesystem::remove_all(base);
  const bool met = !started.empty() && Median(started) <= 100 && Median(ended) <= 100 && backInTime;
  return met ? 0 : 1;
}
