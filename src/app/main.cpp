// vantorel: sends a command to the running instance, or starts a run with
// the face that fits: the tray face with a display, the console face
// without one or with --headless. Each face is an executable of its own
// (vantorel-tray, vantorel-console), so that this one loads neither a
// toolkit nor the engine's libraries: a script's `vantorel status` starts
// in a few milliseconds.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Usage.h"
#include "console/ControlClient.h"
#include "shell/BuildInfo.h"
#include "units/fs/UserFolders.h"
#include "units/runtime/ControlSocket.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/DisplayReach.h"
#include "units/runtime/ProgramLocations.h"

namespace {

bool Has(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], option) == 0) return true;
  return false;
}

// Continues in `face`, in this same process, with the same arguments; its
// first argument names this executable, so that the face finds the
// executables beside it and names it in the login item. Returns only when
// that failed.
int ContinueIn(const std::string& face, int argc, char** argv) {
  const std::string self = vantorel::OwnExecutablePath();
  std::vector<char*> args{const_cast<char*>(self.c_str())};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  ::execv(face.c_str(), args.data());
  return errno;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantorel;
  // A command for the running instance: nothing of this run's own starts.
  if (argc > 1 && IsControlCommand(argv[1]))
    return RunControlCommand(std::vector<std::string>(argv + 1, argv + argc),
                             ControlSocket::DefaultPath(DataHome() + "/" + kBundleName));
  if (Has(argc, argv, "--help") || Has(argc, argv, "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (Has(argc, argv, "--version")) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  if (!Has(argc, argv, "--headless")) {
    if (!CanReachDisplay()) {
      WriteDiagnosticLine("No display to show the tray icon on: running on the terminal.");
    } else if (const std::string tray = FaceExecutablePath(kTrayExecutableName); tray.empty()) {
      WriteDiagnosticLine("This installation has no tray face: running on the terminal.");
    } else {
      const int error = ContinueIn(tray, argc, argv);
      WriteDiagnosticLine("Cannot start the tray face " + tray + ": " + std::strerror(error) +
                          "; running on the terminal.");
    }
  }
  const std::string console = FaceExecutablePath(kConsoleExecutableName);
  const int error = console.empty() ? ENOENT : ContinueIn(console, argc, argv);
  std::fprintf(stderr, "vantorel: cannot start the console face %s: %s\n",
               console.empty() ? (std::string(kConsoleExecutableName) + " (not installed beside vantorel)").c_str()
                               : console.c_str(),
               std::strerror(error));
  return 1;
}
