#pragma once
// Holds the machine's shutdown while uploads wait: a logind "block" lock
// for shutdown with the reason ("3 files are still being uploaded:
// report.txt, …"), which the desktop's shutdown and log-out dialogs show,
// and a "delay" lock for sleep; both let go within a second of nothing
// waiting. The reason is kept current at most every few seconds, the new
// lock taken before the old one is let go (never a moment unheld). Without
// a system bus or logind: one line when it starts, then nothing more.
//
// Threads: one of its own, which alone talks to the bus. Update and
// Holding from any thread; `mutex_` guards what Update hands over.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantorel {

class ShutdownGuard {
public:
  explicit ShutdownGuard(std::string who = "Vantorel");
  ~ShutdownGuard();
  ShutdownGuard(const ShutdownGuard&) = delete;
  ShutdownGuard& operator=(const ShutdownGuard&) = delete;

  // How many uploads wait now (in progress or waiting; downloads are not
  // counted) and some of their names; with `enabled` false nothing is held.
  void Update(int uploads, std::vector<std::string> names, bool enabled);
  // A shutdown lock is held now.
  bool Holding() const { return holding_.load(); }

  // "1 file is still being uploaded: report.txt", "3 files are still being
  // uploaded: a.txt, b.txt, …" (at most three names).
  static std::string Reason(int uploads, const std::vector<std::string>& names);

private:
  void Run();

  const std::string who_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  int uploads_ = 0;
  std::vector<std::string> names_;
  bool enabled_ = true;
  bool stop_ = false;
  std::atomic<bool> holding_{false};
  std::thread thread_;
};

}  // namespace vantorel
