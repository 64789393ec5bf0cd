// vantorel-cloudsim: a simulated sync agent that keeps the per-file sync
// state Vantorel reads, for demonstrations and end-to-end tests.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cloudsim/Demo.h"
#include "cloudsim/Download.h"
#include "cloudsim/Journal.h"
#include "cloudsim/SyncAgent.h"
#include "cloudsim/AgentRules.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/runtime/PollMainLoop.h"

namespace {

using namespace vantorel;

constexpr double kDemoUploadLatency = 3.0;

constexpr const char* kHelp =
    "Usage: vantorel-cloudsim COMMAND ...\n"
    "Plays the part of a cloud sync agent: keeps the user.ubiquity.* attributes\n"
    "that Vantorel reads. It never changes file contents.\n"
    "\n"
    "Commands:\n"
    "  mark ROOT            mark ROOT as belonging to the synchronised store\n"
    "  run ROOT [--upload-delay SECONDS] [--bandwidth BYTES_PER_SECOND] [--journal FILE]\n"
    "                       watch ROOT and \"upload\" every new or changed file:\n"
    "                       not uploaded, then uploading (with a percentage), then\n"
    "                       uploaded after the delay (default 2 s) or size/bandwidth;\n"
    "                       with --journal, each finished upload is added to FILE\n"
    "                       as a line \"uploaded<TAB>PATH\"\n"
    "  download ROOT/PATH --size N [--delay SECONDS] [--journal FILE]\n"
    "                       an item arriving: its placeholder .NAME.icloud first,\n"
    "                       then after the delay (default 2 s) NAME with N bytes,\n"
    "                       uploaded and downloaded, and the placeholder removed\n"
    "                       (recorded as \"downloaded<TAB>PATH\" with --journal)\n"
    "  pending ROOT         list the items below ROOT not uploaded yet; exit 0 when\n"
    "                       there are none, 1 when there are\n"
    "  status PATH          print the item's sync state\n"
    "  demo [ROOT]          the agent plus a steady stream of activity in ROOT\n"
    "                       (default: a fresh folder under /tmp whose path ends in\n"
    "                       Library/Mobile Documents/com~apple~CloudDocs); its\n"
    "                       uploads take 3 s plus the size at 200 kB/s\n"
    "  --help               show this text\n"
    "\n"
    "run and demo stop on SIGINT or SIGTERM.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vantorel-cloudsim: %s\nTry 'vantorel-cloudsim --help'.\n", problem.c_str());
  return 2;
}

std::optional<double> Number(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

// Runs the loop until SIGINT or SIGTERM.
void RunUntilSignalled(PollMainLoop& loop) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  const int fd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd >= 0)
    loop.WatchReadable(fd, [&] {
      signalfd_siginfo info;
      while (::read(fd, &info, sizeof info) == sizeof info) {
      }
      loop.Quit();
    });
  loop.Run();
  if (fd >= 0) ::close(fd);
}

int RunAgent(const std::string& root, SyncAgent::Options options, bool demo) {
  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  SyncAgent agent(root, options, loop);
  std::string error;
  if (!agent.Start(&error)) {
    std::fprintf(stderr, "vantorel-cloudsim: %s\n", error.c_str());
    return 1;
  }
  WriteDiagnosticLine("vantorel-cloudsim: syncing " + root);
  std::optional<DemoActivity> activity;
  if (demo) {
    activity.emplace(root, loop);
    activity->Start();
  }
  RunUntilSignalled(loop);
  WriteDiagnosticLine("vantorel-cloudsim: stopped after " + std::to_string(agent.UploadsCompleted()) + " uploads");
  MainLoop::SetMain(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The loop serves the quit signals; they must reach no thread directly.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }

  if (command == "mark") {
    if (args.size() != 2) return Usage("'mark' needs a folder");
    std::string error;
    if (!SyncAgent::MarkRoot(fileURL(args[1]), &error)) {
      std::fprintf(stderr, "vantorel-cloudsim: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }

  if (command == "status") {
    if (args.size() != 2) return Usage("'status' needs a path");
    const std::string path = fileURL(args[1]);
    if (!doesFileExist(path) && !agent::IsLink(path)) {
      std::fprintf(stderr, "vantorel-cloudsim: no item at %s\n", path.c_str());
      return 1;
    }
    std::printf("%s\n", agent::Describe(path).c_str());
    return 0;
  }

  if (command == "run" || command == "demo") {
    SyncAgent::Options options;
    std::optional<std::string> root;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if ((args[i] == "--upload-delay" || args[i] == "--bandwidth") && i + 1 < args.size()) {
        const auto value = Number(args[i + 1]);
        if (!value) return Usage("not a number: '" + args[i + 1] + "'");
        (args[i] == "--upload-delay" ? options.uploadDelay : options.bandwidth) = *value;
        ++i;
      } else if (args[i] == "--journal" && i + 1 < args.size()) {
        options.journal = args[++i];
      } else if (!root && args[i].rfind("--", 0) != 0) {
        root = fileURL(args[i]);
      } else {
        return Usage("unexpected '" + args[i] + "'");
      }
    }
    if (command == "run") {
      if (!root) return Usage("'run' needs a folder");
      return RunAgent(*root, options, false);
    }
    if (!root) {
      char pattern[] = "/tmp/vantorel-demo-XXXXXX";
      if (::mkdtemp(pattern) == nullptr) {
        std::perror("vantorel-cloudsim: cannot make a demo folder");
        return 1;
      }
      root = std::string(pattern) + "/Library/Mobile Documents/com~apple~CloudDocs";
    }
    if (!MakeDirectories(*root)) {
      std::fprintf(stderr, "vantorel-cloudsim: cannot create %s\n", root->c_str());
      return 1;
    }
    if (options.bandwidth == 0) options.bandwidth = 200 * 1024;  // uploads take a visible while
    // And every upload lasts long enough to be seen as one: Vantorel looks
    // at a changed file a second or so after the change, and a small file
    // already uploaded by then passes for a file received.
    options.uploadLatency = kDemoUploadLatency;
    return RunAgent(*root, options, true);
  }

  if (command == "download") {
    std::optional<std::string> path;
    std::optional<double> size, delay = 2.0;
    std::string journal;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if ((args[i] == "--size" || args[i] == "--delay") && i + 1 < args.size()) {
        (args[i] == "--size" ? size : delay) = Number(args[i + 1]);
        if (!(args[i] == "--size" ? size : delay)) return Usage("not a number: '" + args[i + 1] + "'");
        ++i;
      } else if (args[i] == "--journal" && i + 1 < args.size()) {
        journal = args[++i];
      } else if (!path && args[i].rfind("--", 0) != 0) {
        path = fileURL(args[i]);
      } else {
        return Usage("unexpected '" + args[i] + "'");
      }
    }
    if (!path || !size) return Usage("'download' needs ROOT/PATH and --size N");
    if (!isDirectory(stringByDeletingLastPathComponent(*path))) {
      std::fprintf(stderr, "vantorel-cloudsim: no folder for %s\n", path->c_str());
      return 1;
    }
    PollMainLoop loop;
    std::string failure;
    bool finished = false;
    PlayDownload(loop, *path, static_cast<std::size_t>(*size), *delay, [&](const std::string& error) {
      failure = error;
      finished = true;
    });
    while (!finished) loop.RunOnce(-1);
    if (failure.empty()) AppendJournalLine(journal, "downloaded", *path, &failure);
    if (!failure.empty()) {
      std::fprintf(stderr, "vantorel-cloudsim: %s\n", failure.c_str());
      return 1;
    }
    return 0;
  }

  if (command == "pending") {
    if (args.size() != 2) return Usage("'pending' needs a folder");
    const std::string root = fileURL(args[1]);
    if (!isDirectory(root)) {
      std::fprintf(stderr, "vantorel-cloudsim: %s is not a folder\n", root.c_str());
      return 2;
    }
    const auto pending = SyncAgent::PendingItems(root);
    for (const std::string& item : pending) std::printf("%s\n", item.c_str());
    return pending.empty() ? 0 : 1;
  }

  return Usage("unknown command '" + command + "'");
}
