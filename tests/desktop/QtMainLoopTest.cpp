#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "desktop/helpers/QtMainLoop.h"
#include "support/MainLoopContract.h"

namespace vantorel {

namespace test {
template <>
struct LoopDriver<QtMainLoop> {
  // Serves Qt's event loop in short waits until `done` or the time is up.
  static bool RunUntil(QtMainLoop&, const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    const auto limit = static_cast<qint64>(seconds * 1000);
    while (!done()) {
      const qint64 left = limit - clock.elapsed();
      if (left <= 0) return done();
      Wait(static_cast<int>(std::min<qint64>(left, 10)));
    }
    return true;
  }
  static void RunOnce(QtMainLoop&, double seconds) {
    if (seconds <= 0)
      QCoreApplication::processEvents();  // one pass over what is due, no waiting
    else
      Wait(static_cast<int>(seconds * 1000));
  }
  static void Quit(QtMainLoop& loop) { loop.Quit(); }

private:
  static void Wait(int milliseconds) {
    QEventLoop wait;
    QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
    wait.exec();
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, MainLoopContract, QtMainLoop);
}  // namespace test

namespace {

TEST(QtMainLoop, WorkPostedDuringANestedLoopIsDelivered) {
  // A modal dialog runs a loop of its own; the tracker's messages must still arrive.
  QtMainLoop loop;
  bool delivered = false;
  QEventLoop modal;
  std::thread poster([&] { loop.Post([&] { delivered = true; }); });
  poster.join();
  QTimer::singleShot(0, &modal, [&] {
    QTimer::singleShot(2000, &modal, &QEventLoop::quit);  // never hang
  });
  loop.Post([&] { modal.quit(); });
  modal.exec();
  EXPECT_TRUE(delivered);
}

}  // namespace
}  // namespace vantorel

