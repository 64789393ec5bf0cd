// A rescan of 30,000 files waiting to be uploaded (300 folders of 100),
// against a raw walk of the same tree that reads the same attribute of each
// file (nftw and lgetxattr, as `find` with `getfattr` would). Also counts the
// messages the walk posts to the main thread, where a desktop face redraws
// its scanner window. Target: the rescan at most 3x the raw walk.
//   vantorel_rescan_bench [FILES]

#include <ftw.h>
#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "shell/RecordingFace.h"
#include "shell/Scanner.h"
#include "units/fs/SyncAttributes.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/PollMainLoop.h"

namespace {

using namespace vantorel;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int uploadedSeen = 0;
int ReadOne(const char* path, const struct stat*, int type, FTW*) {
  char value[16];
  if (type == FTW_F && ::lgetxattr(path, kUbiquityUploadedAttribute, value, sizeof value) > 0) ++uploadedSeen;
  return 0;
}

class Delegate : public TScannerDelegate {
public:
  void scannerWillStart() override {}
  void scannerDidStop(const TScanner&, const std::vector<std::string>& transfers, bool) override {
    found = transfers.size();
    stopped = true;
  }
  std::size_t found = 0;
  bool stopped = false;
};

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::max(100, std::atoi(argv[1])) : 30000;
  const std::string base = std::filesystem::temp_directory_path() / ("vantorel-rescan-" + std::to_string(::getpid()));
  const std::string root = base + "/cloud";
  std::filesystem::create_directories(root);
  ::setenv("HOME", base.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
  ::setxattr(root.c_str(), kUbiquityItemAttribute, "1", 1, 0);
  for (int i = 0; i < files; ++i) {
    const std::string folder = root + "/folder" + std::to_string(i / 100);
    if (i % 100 == 0) std::filesystem::create_directory(folder);
    std::ofstream(folder + "/file" + std::to_string(i) + ".dat") << "content";
  }

  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(base + "/prefs.plist"));
  PopulateDefaultPreferences(NSPrefs());
  PollMainLoop loop;
  MainLoop::SetMain(&loop);

  double raw = 1e9, rescan = 1e9;
  std::size_t found = 0, messages = 0;
  for (int round = 0; round < 3; ++round) {  // the best of three, caches warm
    auto start = Clock::now();
    ::nftw(root.c_str(), ReadOne, 64, FTW_PHYS);
    raw = std::min(raw, SecondsSince(start));

    test::RecordingFace face;
    Delegate delegate;
    start = Clock::now();
    auto scanner = TScanner::ScanDirectory(root, &delegate, &face);
    loop.RunUntil([&] { return delegate.stopped; }, 120);
    rescan = std::min(rescan, SecondsSince(start));
    found = delegate.found;
    messages = face.scannerResults.size() + face.scannerPaths.size();
  }
  std::printf("files: %d (found %zu waiting)\n", files, found);
  std::printf("raw walk reading the attribute: %8.3f s  (%5.2f us a file)\n", raw, raw * 1e6 / files);
  std::printf("rescan:                         %8.3f s  (%5.2f us a file)\n", rescan, rescan * 1e6 / files);
  std::printf("ratio rescan / raw walk:        %8.2f  (target: 3 at most)\n", rescan / raw);
  std::printf("messages to the main thread:    %8zu  (count and path updates)\n", messages);

  MainLoop::SetMain(nullptr);
  TUserDefaults::SetStandard(nullptr);
  std::filesystem::remove_all(base);
  return 0;
}
