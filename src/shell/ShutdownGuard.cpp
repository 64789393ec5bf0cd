#include "shell/ShutdownGuard.h"

#include <unistd.h>

#include <chrono>

#include "shell/LogindInhibitor.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

// The reason told is brought up to date at most this often (seconds).
constexpr double kReasonRefresh = 3.0;
// Names in a reason; the rest are counted.
constexpr std::size_t kMostNamed = 3;

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ShutdownGuard::ShutdownGuard(std::string who) : who_(std::move(who)) { thread_ = std::thread([this] { Run(); }); }

ShutdownGuard::~ShutdownGuard() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ShutdownGuard::Update(int uploads, std::vector<std::string> names, bool enabled) {
  {
    std::lock_guard lock(mutex_);
    if (uploads == uploads_ && names == names_ && enabled == enabled_) return;
    uploads_ = uploads;
    names_ = std::move(names);
    enabled_ = enabled;
  }
  changed_.notify_all();
}

std::string ShutdownGuard::Reason(int uploads, const std::vector<std::string>& names) {
  std::string text = uploads == 1 ? "1 file is still being uploaded" : std::to_string(uploads) + " files are still being uploaded";
  if (names.empty()) return text + ".";
  text += ": ";
  for (std::size_t i = 0; i < names.size() && i < kMostNamed; ++i) text += (i == 0 ? "" : ", ") + EscapedForLine(names[i]);
  if (static_cast<std::size_t>(uploads) > std::min(names.size(), kMostNamed)) text += ", …";
  return text;
}

void ShutdownGuard::Run() {
  LogindInhibitor logind;
  std::string problem;
  // Without a bus nothing here can ever be held: said once, never retried.
  bool available = logind.Connect(&problem);
  if (!available) WriteDiagnosticLine("Shutdown is not held while files upload: " + problem + ".");
  int shutdownLock = -1;
  int sleepLock = -1;
  std::string held;
  double heldAt = 0;
  bool saidRefused = false;
  for (;;) {
    int uploads;
    std::vector<std::string> names;
    bool enabled;
    {
      std::unique_lock lock(mutex_);
      // Woken by every change; otherwise once a second, for a reason that
      // waited out its refresh time.
      changed_.wait_for(lock, std::chrono::seconds(1));
      if (stop_) break;
      uploads = uploads_;
      names = names_;
      enabled = enabled_;
    }
    if (!available || !enabled || uploads <= 0) {
      Close(shutdownLock);
      Close(sleepLock);
      held.clear();
      holding_ = false;
      continue;
    }
    const std::string reason = Reason(uploads, names);
    if (shutdownLock >= 0 && (reason == held || SteadyNow() - heldAt < kReasonRefresh)) continue;
    // The new lock first, then the old one let go: never a moment unheld.
    const int fresh = logind.Inhibit("shutdown", who_, reason, "block", &problem);
    if (fresh < 0) {
      if (!saidRefused) WriteDiagnosticLine("Shutdown could not be held while files upload: " + problem + ".");
      saidRefused = true;
      continue;
    }
    Close(shutdownLock);
    shutdownLock = fresh;
    held = reason;
    heldAt = SteadyNow();
    holding_ = true;
    // Sleep waits a moment, for the history to be written.
    if (sleepLock < 0) sleepLock = logind.Inhibit("sleep", who_, reason, "delay", &problem);
  }
  Close(shutdownLock);
  Close(sleepLock);
  holding_ = false;
}

}  // namespace vantorel
