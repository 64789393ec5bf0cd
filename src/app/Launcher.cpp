#include "app/Launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>
#include <optional>
#include <string>

#include "app/Usage.h"
#include "console/ControlClient.h"
#include "shell/BuildInfo.h"
#include "shell/FolderInclusion.h"
#include "units/fs/AtomicFile.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/ControlSocket.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/InstanceLock.h"
#include "units/runtime/ProgramLocations.h"

namespace vantorel {

namespace {


struct Arguments {
  bool headless = false;
  bool demo = false;
  bool rescan = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> folder;
  std::string error;
};

Arguments Parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--headless") {
      a.headless = true;
    } else if (arg == "--demo") {
      a.demo = true;
    } else if (arg == "--rescan") {
      a.rescan = true;
    } else if (arg == "--verbose") {
      a.verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--version") {
      a.version = true;
    } else if (arg == "--folder" && i + 1 < argc) {
      a.folder = fileURL(argv[++i]);
    } else if (arg.rfind("--folder=", 0) == 0) {
      a.folder = fileURL(arg.substr(9));
    } else {
      a.error = arg == "--folder" ? "--folder needs a path" : "unknown option '" + arg + "'";
    }
  }
  return a;
}

// A demonstration runs in a folder of its own: a watched folder whose path
// the first-launch include patterns match, a preferences domain and a support
// folder beside it (the user's own stay untouched), and the simulated agent.
struct Demo {
  std::string base;
  std::string root;
  pid_t agent = -1;
};

std::optional<Demo> StartDemo() {
  char pattern[] = "/tmp/vantorel-demo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("vantorel: cannot make a demo folder");
    return std::nullopt;
  }
  Demo demo{pattern, std::string(pattern) + "/Library/Mobile Documents/com~apple~CloudDocs"};
  MakeDirectories(demo.root);
  ::setenv("XDG_CONFIG_HOME", (demo.base + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (demo.base + "/data").c_str(), 1);

  // The agent lives beside the vantorel executable.
  const std::string agent = LauncherFolder() + "vantorel-cloudsim";
  const std::string log = demo.base + "/cloudsim.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::string demoArgument = "demo";
  std::vector<char*> childArgs{const_cast<char*>(agent.c_str()), demoArgument.data(), demo.root.data(), nullptr};
  const int failed = ::posix_spawn(&demo.agent, agent.c_str(), &actions, nullptr, childArgs.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::fprintf(stderr, "vantorel: cannot start %s: %s\n", agent.c_str(), std::strerror(failed));
    std::filesystem::remove_all(demo.base);
    return std::nullopt;
  }
  return demo;
}

void StopDemo(const Demo& demo) {
  ::kill(demo.agent, SIGTERM);
  int status = 0;
  ::waitpid(demo.agent, &status, 0);
  std::error_code ignored;
  std::filesystem::remove_all(demo.base, ignored);
}

// The include patterns decide what is tracked; a stored folder none of them
// matches would stay silent forever, so say so once. (A folder chosen on the
// command line has had its pattern added by the launch.)
void WarnWhenNothingCanBeTracked() {
  const std::string setting = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("");
  const auto folder = folderSettingPath(setting);
  if (!folder || FolderIsIncluded(NSPrefs(), *folder)) return;
  WriteDiagnosticLine("Note: no include pattern matches " + *folder +
                      ", so nothing there is tracked; choose it again (vantorel --folder " + *folder +
                      ") to add one.");
}

}  // namespace

int LaunchVantorel(int argc, char** argv, FaceRunner runFace) {
  Arguments args = Parse(argc, argv);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.version) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "vantorel: %s\nTry 'vantorel --help'.\n", args.error.c_str());
    return 2;
  }
  if (args.folder && !isDirectory(*args.folder)) {
    std::fprintf(stderr, "vantorel: %s is not a folder\n", args.folder->c_str());
    return 2;
  }
  std::optional<Demo> demo;
  if (args.demo) {
    demo = StartDemo();
    if (!demo) return 1;
    args.folder = demo->root;
  }
  // One instance per user: a second one (autostart plus a manual start)
  // would track, notify and rewrite the history and the log beside the
  // first. The control socket is the guard, taken before any file is
  // touched; a second launch asks the first to open its popover instead.
  // A demonstration has files of its own and runs beside anything.
  std::unique_ptr<ControlSocket> control;
  std::unique_ptr<InstanceLock> instance;
  if (!demo) {
    const std::string support = DataHome() + "/" + kBundleName;
    const std::string socketPath = ControlSocket::DefaultPath(support);
    ControlSocket::Outcome outcome = ControlSocket::Outcome::Failed;
    std::string problem;
    control = ControlSocket::Listen(socketPath, &outcome, &problem);
    if (outcome == ControlSocket::Outcome::AlreadyRunning) {
      if (!HandOverToRunningInstance(socketPath, problem)) WriteDiagnosticLine(problem + ".");
      return 0;
    }
    if (!control) {
      WriteDiagnosticLine("Scripts cannot reach this Vantorel: " + problem + ".");
      // The lock file alone still keeps a second instance away.
      pid_t holder = 0;
      problem.clear();
      instance = InstanceLock::Acquire(InstanceLock::DefaultPath(support), &holder, &problem);
      if (!instance && problem.empty()) {
        WriteDiagnosticLine(holder > 0 ? "Vantorel is already running (process " + std::to_string(holder) + ")."
                                       : std::string("Vantorel is already running."));
        return 0;
      }
      if (!instance) WriteDiagnosticLine("Cannot make sure no other Vantorel runs: " + problem + ".");
    }
  }

  // SIGINT and SIGTERM arrive through the main loop, on no other thread.
  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGINT);
  sigaddset(&quitSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
  const int signalFd = ::signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);

  const auto afterLaunch = [&demo] {
    if (demo) {
      // The demo's domain is its own: short batches should be announced too.
      NSPrefs().SetInteger(kPreferenceKeyElapsedTimeNotificationLimit, 3);
      WriteDiagnosticLine("Demo: watching " + demo->root + " (the simulated agent's log: " + demo->base +
                          "/cloudsim.log). Quit with Ctrl-C.");
    }
    WarnWhenNothingCanBeTracked();
  };
  RunRequest request;
  request.folder = args.folder;
  request.rescan = args.rescan;
  request.verbose = args.verbose;
  request.signalFd = signalFd;
  request.afterLaunch = afterLaunch;
  request.control = control.get();
  const int exitCode = runFace(argc, argv, std::move(request));
  if (signalFd >= 0) ::close(signalFd);
  if (demo) StopDemo(*demo);
  return exitCode;
}

}  // namespace vantorel
