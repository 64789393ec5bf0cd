// `vantorel status --json` end to end against a running headless instance
// with 10,000 transfers in progress: the client process as a script runs
// it, the request alone over the socket, and beside them a bare
// connect-and-ping round trip on the same socket. The instance runs in a
// private home; the executables are the ones beside this program.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "units/runtime/ControlSocket.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One request on a fresh connection; the answer line.
std::string Ask(const std::string& socket, const std::string& request) {
  std::string error;
  const int fd = vantorel::ConnectControlSocket(socket, &error);
  if (fd < 0) return "";
  const std::string line = request + "\n";
  if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return "";
  }
  std::string answer;
  char buffer[65536];
  for (ssize_t n; answer.find('\n') == std::string::npos && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return answer;
}

pid_t Spawn(const std::vector<std::string>& args, bool quiet) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

int main(int, char** argv) {
  namespace fs = std::filesystem;
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  const fs::path home = fs::temp_directory_path() / ("vantorel-control-bench-" + std::to_string(::getpid()));
  fs::create_directories(home / "run");
  fs::permissions(home / "run", fs::perms::owner_all);
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
  const fs::path cloud = home / "Library/Mobile Documents/com~apple~CloudDocs";
  fs::create_directories(cloud);
  const std::string socket = (home / "run/vantorel/control").string();
  const std::string vantorel = (bin / "vantorel").string();
  (void)argv;

  const pid_t instance = Spawn({vantorel, "--headless", "--folder", cloud.string()}, true);
  for (int i = 0; i < 100 && Ask(socket, "ping") != "ok\n"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  fs::create_directories(cloud / "work");
  for (int i = 0; i < 10000; ++i) std::ofstream(cloud / "work" / ("f" + std::to_string(i) + ".bin")) << "x";
  std::string json;
  for (int i = 0; i < 600; ++i) {
    json = Ask(socket, "status json");
    if (json.find("\"transfers\":10000,") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::printf("Instance ready: %s", json.substr(0, 120).c_str());
  std::printf("...\n");

  std::vector<double> ping, request, client;
  for (int i = 0; i < 200; ++i) {
    auto start = Clock::now();
    Ask(socket, "ping");
    ping.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    start = Clock::now();
    Ask(socket, "status json");
    request.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  // The raw call the client wraps: starting any process at all.
  std::vector<double> bare;
  for (int i = 0; i < 50; ++i) {
    for (auto [args, into] : {std::pair{std::vector<std::string>{vantorel, "status", "--json"}, &client},
                              std::pair{std::vector<std::string>{"/bin/true"}, &bare}}) {
      const auto start = Clock::now();
      const pid_t pid = Spawn(args, true);
      int status = 0;
      ::waitpid(pid, &status, 0);
      into->push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  std::printf("Bare connect-and-ping round trip: %.3f ms\n", Median(ping));
  std::printf("Request 'status json' alone: %.3f ms (%.1fx the bare round trip)\n", Median(request),
              Median(request) / Median(ping));
  std::printf("vantorel status --json end to end (client process): %.2f ms (target 5 ms; %.1fx starting /bin/true, %.2f ms)\n",
              Median(client), Median(client) / Median(bare), Median(bare));
  Ask(socket, "quit");
  int status = 0;
  ::waitpid(instance, &status, 0);
  fs::remove_all(home);
  return 0;
}
