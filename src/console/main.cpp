// vantorel: the application. `--headless` runs it on the terminal with the
// console face; the tray face is a separate part of the program.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "console/ConsoleFace.h"
#include "shell/AppController.h"
#include "units/Diagnostics.h"
#include "units/FileObjectUtilities.h"
#include "units/PathUtilities.h"
#include "units/PollMainLoop.h"
#include "units/PreferenceKeys.h"
#include "units/RegularExpressionUtilities.h"
#include "units/UserDefaults.h"
#include "units/UserFolders.h"

namespace {

constexpr const char* kHelp =
    "Usage: vantorel --headless [--folder PATH] [--rescan]\n"
    "Reports which files of a synchronised folder are being uploaded or downloaded.\n"
    "\n"
    "Options:\n"
    "  --headless      run on the terminal: print the status line at every change,\n"
    "                  each notification, alert and network change\n"
    "  --folder PATH   watch PATH (stored as the watched folder, as the preferences\n"
    "                  window would)\n"
    "  --rescan        after starting, scan the folder once for items still\n"
    "                  waiting to be uploaded\n"
    "  --help          show this text\n"
    "\n"
    "Files:\n"
    "  $XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist   preferences\n"
    "                  (read and written with vantorel-defaults)\n"
    "  $XDG_DATA_HOME/Vantorel/vantorel_log.txt                 transfer log\n"
    "  $XDG_DATA_HOME/Vantorel/recent_transfers.plist           recent transfers\n"
    "(~/.config and ~/.local/share when the variables are not set.)\n"
    "\n"
    "Quit with Ctrl-C (SIGINT) or SIGTERM.\n";

struct Arguments {
  bool headless = false;
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
  const Arguments args = Parse(argc, argv);
  if (args.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "vantorel: %s\nTry 'vantorel --help'.\n", args.error.c_str());
    return 2;
  }
  if (!args.headless) {
    std::fprintf(stderr, "vantorel: the tray face is not part of this build; run 'vantorel --headless'.\n");
    return 2;
  }
  if (args.folder && !isDirectory(*args.folder)) {
    std::fprintf(stderr, "vantorel: %s is not a folder\n", args.folder->c_str());
    return 2;
  }

  // SIGINT and SIGTERM arrive through the main loop, on no other thread.
  sigset_t quitSignals;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGINT);
  sigaddset(&quitSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
  const int signalFd = ::signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);

  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(TUserDefaults::DefaultFilePath(), &loop));
  if (args.folder) NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *args.folder);

  int exitCode = 0;
  {
    auto face = MakeRef<ConsoleFace>(args.folder);
    face->ObserveNetwork();
    TAppController controller(*face);
    if (!controller.applicationDidFinishLaunching(&exitCode)) {
      if (exitCode != 0) WriteDiagnosticLine("Pass --folder PATH to choose the folder to watch.");
    } else {
      if (signalFd >= 0)
        loop.WatchReadable(signalFd, [&] {
          signalfd_siginfo info;
          while (::read(signalFd, &info, sizeof info) == sizeof info) {
          }
          loop.Quit();
        });
      WarnWhenNothingCanBeTracked();
      if (args.rescan) controller.PerformRescan(false);
      loop.Run();
    }
    controller.Quit();
  }
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  if (signalFd >= 0) ::close(signalFd);
  return exitCode;
}
