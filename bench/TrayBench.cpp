// The tray icon's cost: rendering one image and handing it to the tray,
// against handing the tray a prepared pixmap of the same size; and how often
// an idle desktop face wakes its main thread. Run it on a display with a
// tray (scripts/bench-tray does: Xvfb and trayer) or offscreen.

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "RatioReporter.h"
#include "desktop/helpers/QtMainLoop.h"
#include "desktop/status/StatusItem.h"
#include "support/TempDir.h"
#include "units/net/NetworkReachability.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

StatusItem* gItem = nullptr;

// A tray image for a changing state (a new pie each time), handed over.
void BM_RenderAndHandOver(benchmark::State& state) {
  QSystemTrayIcon tray;
  tray.show();
  int completed = 0;
  for (auto _ : state) {
    gItem->View().TrackerStatusChanged(1, 12, 12, completed++ % 12);
    const QImage image = gItem->Render();
    tray.setIcon(QIcon(QPixmap::fromImage(image)));
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_RenderAndHandOver);

// The same hand-over of prepared images of the same size, alternately, each
// as a new pixmap (as every changed icon is: the tray cannot have it cached).
void BM_RenderAndHandOver_raw(benchmark::State& state) {
  QSystemTrayIcon tray;
  tray.show();
  gItem->View().TrackerStatusChanged(1, 12, 12, 3);
  const QImage first = gItem->Render();
  gItem->View().TrackerStatusChanged(1, 12, 12, 6);
  const QImage second = gItem->Render();
  bool flip = false;
  for (auto _ : state) {
    tray.setIcon(QIcon(QPixmap::fromImage((flip = !flip) ? first : second)));
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_RenderAndHandOver_raw);

// Wake-ups of the main thread in idle seconds with the face's loop and icon.
int IdleWakeUps(int seconds = 1) {
  int wakeUps = 0;
  QObject counter;
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &counter,
                   [&wakeUps] { ++wakeUps; });
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  return wakeUps - 1;  // the timer that ends the measurement wakes it once
}

}  // namespace
}  // namespace vantorel

int main(int argc, char** argv) {
  using namespace vantorel;
  QApplication app(argc, argv);
  test::TempDir dir;
  QtMainLoop mainLoop;
  MainLoop::SetMain(&mainLoop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist", &mainLoop));
  NSPrefs().SetInteger(kPreferenceKeyStatusItemMode, 1);
  {
    // As in the application: the reachability the icon's opacity needs is
    // the monitor's kept state, not a question to the kernel per image.
    StartMonitoringNetworkReachability();
    StatusItem item([] { return false; });
    item.Show();
    gItem = &item;
    // Settled first: the tray embedding the icon is not idleness.
    IdleWakeUps();
    const int idle = IdleWakeUps(3);
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double rendered = reporter.Of("BM_RenderAndHandOver"), raw = reporter.Of("BM_RenderAndHandOver_raw");
    std::printf("\nPlatform: %s, tray %s\n", qPrintable(QGuiApplication::platformName()),
                QSystemTrayIcon::isSystemTrayAvailable() ? "available" : "not available");
    if (raw > 0)
      std::printf("Render and hand over one tray image: %.1f us, a prepared pixmap: %.1f us: %.2fx (target 1.5x)\n",
                  rendered / 1000, raw / 1000, rendered / raw);
    std::printf("Idle main thread with the tray icon: %d wake-ups in three seconds (target 0)\n", idle);
    gItem = nullptr;
    StopMonitoringNetworkReachability();
  }
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  return 0;
}
