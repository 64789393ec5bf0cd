#include "shell/ShutdownGuard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <utility>

#include "shell/LogindInhibitor.h"
#include "shell/SessionManagerInhibitor.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

// The reason told is brought up to date at most this often (seconds).
constexpr double kReasonRefresh = 3.0;
// Neither logind nor a session manager gave a lock: asked again after this
// long (seconds), not at every wake-up (a desktop without GNOME's session
// manager never will).
constexpr double kRetryRefused = 30.0;
// Names in a reason; the rest are counted.
constexpr std::size_t kMostNamed = 3;
// The menu entry (vantorel.desktop) whose name and icon GNOME's log-out
// dialog shows beside the reason.
constexpr const char* kDesktopAppId = "vantorel";

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ShutdownGuard::ShutdownGuard(std::string who, GoingDown goingDown, std::function<void()> holdingChanged)
    : who_(std::move(who)),
      goingDown_(std::move(goingDown)),
      holdingChanged_(std::move(holdingChanged)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  thread_ = std::thread([this] { Run(); });
}

ShutdownGuard::~ShutdownGuard() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  thread_.join();
  if (wake_ >= 0) ::close(wake_);
}

void ShutdownGuard::Wake() {
  const std::uint64_t one = 1;
  if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
}

void ShutdownGuard::Update(int uploads, std::vector<std::string> paths, bool enabled) {
  {
    std::lock_guard lock(mutex_);
    if (uploads == uploads_ && paths == paths_ && enabled == enabled_) return;
    uploads_ = uploads;
    paths_ = std::move(paths);
    enabled_ = enabled;
  }
  Wake();
}

void ShutdownGuard::SetHolding(bool holding) {
  if (holding_.exchange(holding) != holding && holdingChanged_) holdingChanged_();
}

std::string ShutdownGuard::Reason(int uploads, const std::vector<std::string>& paths) {
  std::string text = uploads == 1 ? "1 file is still being uploaded" : std::to_string(uploads) + " files are still being uploaded";
  if (paths.empty()) return text + ".";
  text += ": ";
  for (std::size_t i = 0; i < paths.size() && i < kMostNamed; ++i)
    text += (i == 0 ? "" : ", ") + EscapedForLine(paths[i].substr(paths[i].find_last_of('/') + 1));
  if (static_cast<std::size_t>(uploads) > std::min(paths.size(), kMostNamed)) text += ", …";
  return text;
}

void ShutdownGuard::Run() {
  LogindInhibitor logind;
  std::string problem;
  // Without a bus nothing here can ever be held: said once, never retried.
  const bool available = logind.Connect(&problem);
  if (!available) WriteDiagnosticLine("Shutdown is not held while files upload: " + problem + ".");
  // GNOME's own log-out inhibit, where its session manager answers.
  SessionManagerInhibitor session;
  const bool sessionBus = session.Connect();
  // logind's word that the machine goes down (or sleeps) now, or is back.
  std::vector<std::pair<bool, bool>> heard;  // (sleep, starting)
  if (available) logind.WatchGoingDown([&heard](bool sleep, bool starting) { heard.emplace_back(sleep, starting); });
  int shutdownLock = -1;
  int sleepLock = -1;
  std::uint32_t logOutCookie = 0;
  bool sleeping = false;
  std::string held;
  double heldAt = 0;
  std::string refused;  // the reason last asked for in vain, and when
  double refusedAt = 0;
  bool saidRefused = false;
  const auto letGo = [&] {
    Close(shutdownLock);
    Close(sleepLock);
    session.Uninhibit(logOutCookie);
    logOutCookie = 0;
    held.clear();
    refused.clear();
    SetHolding(false);
  };
  for (;;) {
    // Woken by every change and by the bus; otherwise once a second, for a
    // reason that waited out its refresh time.
    pollfd fds[2] = {{wake_, POLLIN, 0}, {logind.Fd(), POLLIN, 0}};
    ::poll(fds, available && fds[1].fd >= 0 ? 2 : 1, 1000);
    std::uint64_t value;
    while (::read(wake_, &value, sizeof value) > 0) {
    }
    if (available) logind.Process();
    int uploads;
    std::vector<std::string> paths;
    bool enabled;
    {
      std::lock_guard lock(mutex_);
      if (stop_) break;
      uploads = uploads_;
      paths = paths_;
      enabled = enabled_;
    }
    for (const auto& [sleep, starting] : heard) {
      // Going down anyway (forced, or past a delay): what still waits is
      // told before the sleep lock lets the machine go.
      if (starting && enabled && uploads > 0 && goingDown_) goingDown_(sleep, paths);
      if (sleep) {
        sleeping = starting;
        if (starting) Close(sleepLock);
      }
    }
    heard.clear();
    if ((!available && !sessionBus) || !enabled || uploads <= 0) {
      letGo();
      continue;
    }
    const std::string reason = Reason(uploads, paths);
    // Sleep waits a moment, for the history to be written (not while it
    // is under way: that lock was let go for it).
    if (available && sleepLock < 0 && !sleeping) sleepLock = logind.Inhibit("sleep", who_, reason, "delay", &problem);
    const bool holding = shutdownLock >= 0 || logOutCookie != 0;
    if (holding && (reason == held || SteadyNow() - heldAt < kReasonRefresh)) continue;
    if (!holding && reason == refused && SteadyNow() - refusedAt < kRetryRefused) continue;
    // The new locks first, then the old ones let go: never a moment unheld.
    const int fresh = available ? logind.Inhibit("shutdown", who_, reason, "block", &problem) : -1;
    if (available && fresh < 0 && !saidRefused) {
      WriteDiagnosticLine("Shutdown could not be held while files upload: " + problem + ".");
      saidRefused = true;
    }
    const std::uint32_t freshCookie = sessionBus ? session.InhibitLogOut(kDesktopAppId, reason) : 0;
    if (fresh >= 0) {
      Close(shutdownLock);
      shutdownLock = fresh;
    }
    if (freshCookie != 0) {
      if (freshCookie != logOutCookie) session.Uninhibit(logOutCookie);
      logOutCookie = freshCookie;
    }
    if (fresh < 0 && freshCookie == 0) {
      refused = reason;
      refusedAt = SteadyNow();
      continue;
    }
    held = reason;
    heldAt = SteadyNow();
    SetHolding(true);
  }
  letGo();
}

}  // namespace vantorel
