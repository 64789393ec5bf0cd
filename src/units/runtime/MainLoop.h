#pragma once
// The one seam between the program and whatever runs its main thread.
//
// Everything that must happen "on the main thread" (timers, delegate messages,
// preference observers, file-event delivery) goes through a MainLoop. The
// headless face and the tests use PollMainLoop; the desktop face adapts its
// toolkit's event loop to the same interface.
//
// All members may be called from any thread unless stated otherwise.

#include <cstdint>
#include <functional>

namespace vantorel {

class MainLoop {
public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;
  using WatchId = std::uint64_t;

  virtual ~MainLoop();

  // Queues `task` to run on the main thread; returns at once. Tasks run in the
  // order they were posted.
  virtual void Post(Task task) = 0;

  // Runs `task` on the main thread and waits until it has run. On the main
  // thread the task runs inline. Returns false, without running the task, when
  // the loop is stopping or has stopped: a background thread must never wait
  // on a main thread that will not come back for it.
  virtual bool PostAndWait(Task task) = 0;

  // Calls `task` once on the main thread after `seconds` (at the earliest).
  virtual TimerId AddTimer(double seconds, Task task) = 0;
  // Cancels a timer that has not fired yet; unknown or fired ids are ignored.
  virtual void CancelTimer(TimerId id) = 0;

  // Calls `task` on the main thread whenever `fd` is readable (or has hung up
  // or failed), until Unwatch. The watch is level-triggered: the task must
  // read what is there. The caller keeps ownership of the descriptor.
  virtual WatchId WatchReadable(int fd, Task task) = 0;
  // After Unwatch returns on the main thread the task is not called again.
  virtual void Unwatch(WatchId id) = 0;

  // Calls `task` on the main thread once the current pass of the loop has
  // served everything else (or at the end of the next pass when none is
  // running). Deferred releases use it.
  virtual void AtEndOfPass(Task task) = 0;

  virtual bool IsMainThread() const = 0;

  // True once the loop has been asked to stop.
  virtual bool IsStopping() const = 0;

  // Asks the loop to stop: its run returns once the current task is done.
  virtual void Quit() = 0;

  // The process's main loop, or null before the face installs one. Install
  // it before starting any thread that uses it; it must outlive them.
  static MainLoop* Main();
  static void SetMain(MainLoop* loop);
};

}  // namespace vantorel
