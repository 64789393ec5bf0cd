#pragma once
// Holds the machine's shutdown while uploads wait: a logind "block" lock
// for shutdown with the reason ("3 files are still being uploaded:
// report.txt, …"), which the desktop's shutdown and log-out dialogs show,
// GNOME's session manager's log-out inhibit with the same reason where it
// runs, and a "delay" lock for sleep; all let go within a second of nothing
// waiting. The reason is kept current at most every few seconds, the new
// lock taken before the old one is let go (never a moment unheld). Without
// a system bus or logind: one line when it starts, then nothing more.
//
// When the machine shuts down or sleeps anyway (logind's PrepareForShutdown
// or PrepareForSleep) with uploads waiting, `goingDown` is told, on the
// guard's thread, before the sleep lock is let go. `holdingChanged` is
// told, on the guard's thread, when Holding() turns.
//
// Threads: one of its own, which alone talks to the bus. Update and
// Holding from any thread; `mutex_` guards what Update hands over.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantorel {

class ShutdownGuard {
public:
  // Whether it is sleep, and the paths of the uploads waiting.
  using GoingDown = std::function<void(bool sleep, const std::vector<std::string>& waiting)>;

  explicit ShutdownGuard(std::string who = "Vantorel", GoingDown goingDown = {},
                         std::function<void()> holdingChanged = {});
  ~ShutdownGuard();
  ShutdownGuard(const ShutdownGuard&) = delete;
  ShutdownGuard& operator=(const ShutdownGuard&) = delete;

  // How many uploads wait now (in progress or waiting; downloads are not
  // counted) and some of their paths; with `enabled` false nothing is held.
  void Update(int uploads, std::vector<std::string> paths, bool enabled);
  // Shutdown (or logging out) is held now.
  bool Holding() const { return holding_.load(); }

  // "1 file is still being uploaded: report.txt", "3 files are still being
  // uploaded: a.txt, b.txt, …" (at most three names).
  static std::string Reason(int uploads, const std::vector<std::string>& paths);

private:
  void Run();
  void Wake();
  void SetHolding(bool holding);

  const std::string who_;
  const GoingDown goingDown_;
  const std::function<void()> holdingChanged_;
  int wake_ = -1;  // an eventfd: Update and the destructor wake the thread
  std::mutex mutex_;
  // Guarded by mutex_.
  int uploads_ = 0;
  std::vector<std::string> paths_;
  bool enabled_ = true;
  bool stop_ = false;
  std::atomic<bool> holding_{false};
  std::thread thread_;
};

}  // namespace vantorel
