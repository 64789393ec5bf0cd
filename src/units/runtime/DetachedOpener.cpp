#include "units/runtime/DetachedOpener.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

extern char** environ;

namespace vantorel {

namespace {

struct Openers {
  std::mutex mutex;  // guards everything below
  std::string program = "xdg-open";
  double limitSeconds = 15.0;
  std::set<std::string> running;  // targets whose opener has not ended
  std::set<std::string> said;     // targets said to have failed
};

Openers& State() {
  static Openers* openers = new Openers();  // never destroyed: waiting threads may outlive main
  return *openers;
}

void SayOnce(const std::string& target, const std::string& why) {
  Openers& state = State();
  {
    std::lock_guard lock(state.mutex);
    if (!state.said.insert(target).second) return;
  }
  WriteDiagnosticLine("Nothing could open " + EscapedForLine(target) + ": " + why + ".");
}

// Why an opener's exit status means nothing was opened; empty when it opened.
std::string WhyNotOpened(int status, const std::string& program) {
  if (WIFSIGNALED(status)) return program + " was ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 0) return {};
  switch (WEXITSTATUS(status)) {
    case 2: return "it does not exist";
    case 3: return program + " found no program for it";
    default: return program + " failed (status " + std::to_string(WEXITSTATUS(status)) + ")";
  }
}

// The opener's thread: starts it, and waits for it within the limit.
void Run(std::string target, std::string program, double limitSeconds) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A session of its own: no terminal signal of ours reaches it, and it
  // outlives us if it must. The default signal handling, whatever ours is.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setsigmask(&attributes, &none);
  std::vector<char*> argv{program.data(), target.data(), nullptr};
  pid_t child = -1;
  const int failed = ::posix_spawnp(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    SayOnce(target, "cannot start " + program + ": " + std::strerror(failed));
  } else {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limitSeconds);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (ended == child) {
      if (const std::string why = WhyNotOpened(status, program); !why.empty()) SayOnce(target, why);
    } else if (ended == 0) {
      // Past the limit: the handler it started runs on; reaped whenever it ends.
      ::waitpid(child, &status, 0);
    }
  }
  Openers& state = State();
  std::lock_guard lock(state.mutex);
  state.running.erase(target);
}

}  // namespace

void OpenDetached(const std::string& target) {
  Openers& state = State();
  std::string program;
  double limit;
  {
    std::lock_guard lock(state.mutex);
    if (!state.running.insert(target).second) return;  // still being opened
    program = state.program;
    limit = state.limitSeconds;
  }
  std::thread(Run, target, program, limit).detach();
}

void SetOpenerForTesting(const std::string& program, double limitSeconds) {
  Openers& state = State();
  std::lock_guard lock(state.mutex);
  state.program = program.empty() ? "xdg-open" : program;
  state.limitSeconds = limitSeconds;
  state.said.clear();
}

}  // namespace vantorel
