// The popover's cost on the main thread with 10,000 transfers in progress
// and 100 recent transfers: opening it (made, laid out, painted) and one
// status update while it is open, beside the same number of stat calls as
// the rows it read (the only file-system work an open popover must do).
// Main-thread CPU time: the disk-usage probe's own thread is not counted.
// Runs offscreen unless a display is named.

#include <sys/stat.h>

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "desktop/helpers/QtMainLoop.h"
#include "desktop/popover/TransferListModel.h"
#include "desktop/popover/TransferListViewController.h"
#include "engine/Tracker.h"
#include "sources/attributes/AttributeItemSource.h"
#include "support/TempDir.h"
#include "units/prefs/PlistValue.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

double ThreadMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
  using namespace vantorel;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  test::TempDir dir;
  ::setenv("HOME", dir.MakeFolder("home").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  QtMainLoop loop;
  MainLoop::SetMain(&loop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist", &loop));
  PopulateDefaultPreferences(NSPrefs());
  const std::string cloud = dir.MakeFolder("cloud");
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  NSPrefs().SetStringArray(kPreferenceKeyIncludePatterns, {"/cloud/"});
  // 100 recent transfers, as a history file left by an earlier run.
  PlistValue::Array recent;
  for (int i = 0; i < 100; ++i) recent.emplace_back(dir.Write("cloud/done/d" + std::to_string(i) + ".txt", "x"));
  WritePropertyListFile(dir / "recents.plist", PlistValue(recent));
  NSPrefs().SetString(kPreferenceKeyRecentsLog, dir / "recents.plist");
  {
    TICloudTracker::Options options;
    options.source = MakeAttributeItemSource();
    options.startPollThread = false;
    options.settings.includePatterns = {"/cloud/"};
    options.settings.historyPath = dir / "recents.plist";
    TRef<TICloudTracker> tracker = MakeRef<TICloudTracker>(options);
    tracker->SetDirectory(cloud);
    for (int i = 0; i < 10000; ++i)
      tracker->QueueFile(dir.Write("cloud/work/f" + std::to_string(i) + ".bin", std::string(100, 'x')));
    tracker->PollOnce();
    std::printf("Transfers in progress: %d; recent transfers: %zu\n", tracker->Snapshot().inProgress,
                tracker->GetRecentTransfers().value_or(std::vector<std::string>{}).size());

    std::vector<double> opens, updates;
    int rowsRead = 0;
    for (int round = 0; round < 7; ++round) {
      const double start = ThreadMilliseconds();
      auto* controller = new TTransferListViewController(*tracker, nullptr, nullptr);
      controller->showRelativeToRect(QRect(600, 0, 24, 24), PopoverWindow::Kind::Dialog);
      // Laid out and painted, as the first pass of the event loop does.
      QCoreApplication::processEvents();
      controller->popover()->repaint();
      opens.push_back(ThreadMilliseconds() - start);
      rowsRead = controller->transferModel()->RowsRead();
      for (int i = 0; i < 5; ++i) {
        const double before = ThreadMilliseconds();
        controller->updateStatus();
        QCoreApplication::processEvents();
        controller->popover()->repaint();
        updates.push_back(ThreadMilliseconds() - before);
      }
      delete controller->popover();
      QCoreApplication::processEvents();
    }
    // The baseline: a stat of each row the popover read.
    const auto paths = tracker->GetTotalTransfers();
    std::vector<double> stats;
    for (int round = 0; round < 101; ++round) {
      const double before = ThreadMilliseconds();
      for (int i = 0; i < std::max(rowsRead, 1); ++i) {
        struct stat info {};
        ::stat(paths[static_cast<std::size_t>(i)].c_str(), &info);
      }
      stats.push_back(ThreadMilliseconds() - before);
    }
    const double stat = std::max(Median(stats), 1e-6);
    std::printf("Rows read from the file system: %d of %d\n", rowsRead, tracker->Snapshot().total);
    std::printf("Open the popover: %.1f ms main thread (target 50 ms); %d stat calls: %.3f ms (%.0fx)\n",
                Median(opens), rowsRead, stat, Median(opens) / stat);
    std::printf("One status update while open: %.1f ms main thread (target 50 ms); %.0fx the stat calls\n",
                Median(updates), Median(updates) / stat);
  }
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  return 0;
}
