// vantorel: the application. With a display it runs in the system tray (the
// desktop face); `--headless`, or no display, runs it on the terminal with
// the console face.

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

#include "console/ConsoleFace.h"
#ifdef VANTOREL_HAS_DESKTOP
#include "desktop/DesktopApplication.h"
#endif
#include "shell/AppController.h"
#include "shell/BuildInfo.h"
#include "units/fs/AtomicFile.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "console/ControlClient.h"
#include "shell/ControlService.h"
#include "units/runtime/ControlSocket.h"
#include "units/runtime/InstanceLock.h"
#include "units/fs/PathUtilities.h"
#include "units/runtime/PollMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/text/RegularExpressionUtilities.h"
#include "units/prefs/UserDefaults.h"
#include "units/fs/UserFolders.h"

namespace {

constexpr const char* kHelp =
    "Usage: vantorel [--headless] [--folder PATH] [--rescan]\n"
    "       vantorel [--headless] --demo\n"
    "       vantorel status [--json] [--follow] | wait-idle [--timeout SECONDS]\n"
    "       vantorel open | preferences | rescan [PATH] | quit\n"
    "Reports which files of a synchronised folder are being uploaded or downloaded.\n"
    "With a display it sits in the system tray; without one, or with --headless,\n"
    "it runs on the terminal.\n"
    "\n"
    "Options:\n"
    "  --headless      run on the terminal: print the status line at every change,\n"
    "                  each notification, alert and network change\n"
    "  --folder PATH   watch PATH (stored as the watched folder, as the preferences\n"
    "                  window would)\n"
    "  --rescan        after starting, scan the folder once for items still\n"
    "                  waiting to be uploaded\n"
    "  --demo          a demonstration: a fresh demo folder with the simulated sync\n"
    "                  agent making uploads and downloads in it (vantorel-cloudsim\n"
    "                  demo), and Vantorel watching it with preferences and a\n"
    "                  support folder of its own; quitting stops both and removes it\n"
    "  --help          show this text\n"
    "\n"
    "Commands for the running Vantorel (over its control socket):\n"
    "  status          print the status line; --json: the state as one JSON object;\n"
    "                  --follow: again at every change, until interrupted\n"
    "  wait-idle       return once nothing is in progress and no received-download\n"
    "                  batch is open; --timeout SECONDS: give up after that long\n"
    "  open            open or close the popover (the tray face)\n"
    "  preferences     open the preferences window (the tray face)\n"
    "  rescan [PATH]   scan the watched folder, or PATH, for transfers in progress\n"
    "  quit            quit in order (the history is saved)\n"
    "Exit codes: 0 done, 1 timed out, 2 no Vantorel runs (or a wrong command),\n"
    "3 refused or failed. A second plain launch opens the running one's popover.\n"
    "\n"
    "Files:\n"
    "  $XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist   preferences\n"
    "                  (read and written with vantorel-defaults)\n"
    "  $XDG_DATA_HOME/Vantorel/vantorel_log.txt                 transfer log\n"
    "  $XDG_DATA_HOME/Vantorel/recent_transfers.plist           recent transfers\n"
    "  $XDG_RUNTIME_DIR/vantorel/control                        control socket\n"
    "                  ($XDG_DATA_HOME/Vantorel/run/control without a runtime folder)\n"
    "(~/.config and ~/.local/share when the variables are not set.)\n"
    "\n"
    "Quit with Ctrl-C (SIGINT) or SIGTERM.\n";

struct Arguments {
  bool headless = false;
  bool demo = false;
  bool rescan = false;
  bool help = false;
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
    } else if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--folder" && i + 1 < argc) {
      a.folder = vantorel::fileURL(argv[++i]);
    } else if (arg.rfind("--folder=", 0) == 0) {
      a.folder = vantorel::fileURL(arg.substr(9));
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

std::optional<Demo> StartDemo(const char* argv0) {
  using namespace vantorel;
  char pattern[] = "/tmp/vantorel-demo-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("vantorel: cannot make a demo folder");
    return std::nullopt;
  }
  Demo demo{pattern, std::string(pattern) + "/Library/Mobile Documents/com~apple~CloudDocs"};
  MakeDirectories(demo.root);
  ::setenv("XDG_CONFIG_HOME", (demo.base + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (demo.base + "/data").c_str(), 1);

  // The agent lives beside this executable.
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string(argv0);
  folder = folder.substr(0, folder.find_last_of('/') + 1);
  const std::string agent = folder + "vantorel-cloudsim";
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

// The include patterns decide what is tracked; a folder none of them
// matches would stay silent forever, so say so once.
void WarnWhenNothingCanBeTracked() {
  using namespace vantorel;
  const std::string folder = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("");
  const auto patterns = NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{});
  for (const std::string& pattern : patterns)
    if (matchesWithExpression(folder + "/", pattern, 0, nullptr)) return;
  WriteDiagnosticLine("Note: no include pattern matches " + folder +
                      ", so nothing there is tracked; add one with 'vantorel-defaults write IncludePatterns -array …'.");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantorel;
  // A command for the running instance: nothing of this run's own starts.
  if (argc > 1 && IsControlCommand(argv[1]))
    return RunControlCommand(std::vector<std::string>(argv + 1, argv + argc),
                             ControlSocket::DefaultPath(DataHome() + "/" + kBundleName));
  Arguments args = Parse(argc, argv);
  if (args.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "vantorel: %s\nTry 'vantorel --help'.\n", args.error.c_str());
    return 2;
  }
  std::optional<Demo> demo;
  if (args.demo) {
    demo = StartDemo(argv[0]);
    if (!demo) return 1;
    args.folder = demo->root;
  }
  [[maybe_unused]] bool desktop = false;
  if (!args.headless) {
#ifdef VANTOREL_HAS_DESKTOP
    desktop = CanReachDisplay();
    if (!desktop) WriteDiagnosticLine("No display to show the tray icon on: running on the terminal.");
#else
    WriteDiagnosticLine("This build has no tray face: running on the terminal.");
#endif
  }
  if (args.folder && !isDirectory(*args.folder)) {
    std::fprintf(stderr, "vantorel: %s is not a folder\n", args.folder->c_str());
    return 2;
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
  int exitCode = 0;
#ifdef VANTOREL_HAS_DESKTOP
  if (desktop) {
    exitCode = RunDesktopApplication(argc, argv, args.folder, args.rescan, signalFd, afterLaunch, control.get());
    if (signalFd >= 0) ::close(signalFd);
    if (demo) StopDemo(*demo);
    return exitCode;
  }
#endif

  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(TUserDefaults::DefaultFilePath(), &loop));
  if (args.folder) NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *args.folder);

  {
    auto face = MakeRef<ConsoleFace>(args.folder);
    face->ObserveNetwork();
    TAppController controller(*face);
    const bool launched = controller.applicationDidFinishLaunching(&exitCode);
    if (!launched) {
      if (exitCode != 0) WriteDiagnosticLine("Pass --folder PATH to choose the folder to watch.");
    } else {
      if (signalFd >= 0)
        loop.WatchReadable(signalFd, [&] {
          signalfd_siginfo info;
          while (::read(signalFd, &info, sizeof info) == sizeof info) {
          }
          loop.Quit();
        });
      afterLaunch();
      std::optional<ControlService> service;
      if (control) service.emplace(controller, *control);
      if (args.rescan) controller.performRescan(false);
      loop.Run();
    }
    controller.Quit();
  }
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  if (signalFd >= 0) ::close(signalFd);
  if (demo) StopDemo(*demo);
  return exitCode;
}
