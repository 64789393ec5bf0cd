#pragma once
// A MainLoop on poll(2), for the headless face and the tests.
//
// The thread that constructs the loop is its main thread until another thread
// runs it (Run, RunOnce, RunUntil), which then becomes the main thread. One
// pass of the loop waits for a descriptor, a due timer or a posted task, then
// serves, in this order: ready descriptors, due timers, the tasks that were
// queued when the pass began (tasks they post run in the next pass), and last
// the end-of-pass tasks.

#include <cstdint>
#include <functional>
#include <memory>

#include "units/runtime/MainLoop.h"

namespace vantorel {

class PollMainLoop final : public MainLoop {
public:
  PollMainLoop();
  ~PollMainLoop() override;
  PollMainLoop(const PollMainLoop&) = delete;
  PollMainLoop& operator=(const PollMainLoop&) = delete;

  // Runs passes until Quit is called.
  void Run();
  // Runs one pass, waiting at most `timeoutSeconds` for work. Returns true
  // when anything was served.
  bool RunOnce(double timeoutSeconds);
  // Runs passes until `done` answers true (checked after every pass) or
  // `timeoutSeconds` have passed; returns the last answer of `done`.
  bool RunUntil(const std::function<bool()>& done, double timeoutSeconds);
  // Asks the loop to stop at the end of the current pass. Waiting posts that
  // have not started are abandoned at once (their PostAndWait returns false).
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

  // Passes run so far (to check that an idle loop does not wake up).
  std::uint64_t PassCount() const;

private:
  struct Impl;
  // Shared so that a thread still leaving PostAndWait keeps the state alive
  // while the loop is destroyed.
  std::shared_ptr<Impl> impl_;
};

}  // namespace vantorel
