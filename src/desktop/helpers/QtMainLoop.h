#pragma once
// The program's main loop on Qt's event loop, for the desktop face.
//
// Construct it on the GUI thread once the QApplication exists, install it
// with MainLoop::SetMain before the preferences store and any thread that
// uses it, and destroy it before the application object. Posted work is
// delivered by whatever event loop runs at the time, modal dialogs' nested
// loops included. End-of-pass tasks run once the work queued before them has
// been served.

#include <memory>

#include "units/runtime/MainLoop.h"

namespace vantorel {

class QtMainLoop final : public MainLoop {
public:
  QtMainLoop();
  ~QtMainLoop() override;
  QtMainLoop(const QtMainLoop&) = delete;
  QtMainLoop& operator=(const QtMainLoop&) = delete;

  // Stops: waiting posts that have not started are abandoned at once (their
  // PostAndWait returns false), later ones are refused, and the application's
  // event loop is asked to end. Also happens when the application quits by
  // other means.
  void Quit() override;

  void Post(Task task) override;
  bool PostAndWait(Task task) override;
  TimerId AddTimer(double seconds, Task task) override;
  void CancelTimer(TimerId id) override;
  WatchId WatchReadable(int fd, Task task) override;
  void Unwatch(WatchId id) override;
  void AtEndOfPass(Task task) override;
  bool IsMainThread() const override;
  bool IsStopping() const override;

private:
  struct Impl;
  // Shared with the tasks in Qt's queue and with threads still leaving
  // PostAndWait, which may outlive the loop object.
  std::shared_ptr<Impl> impl_;
};

}  // namespace vantorel
