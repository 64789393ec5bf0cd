#pragma once
// Vantorel from its command line: a command for the running instance, or a
// run of its own (arguments, the demonstration, the one-instance guard, the
// quit signals, then the face's run). Shared by the `vantorel` executable
// and the tray executable.

#include "shell/ApplicationRun.h"

namespace vantorel {

// Runs the application with the desktop face: the tray executable has one,
// `vantorel` has none and hands a tray run over to the tray executable.
using DesktopRunner = int (*)(int& argc, char** argv, RunRequest request);

// Returns the exit status.
int LaunchVantorel(int argc, char** argv, DesktopRunner desktopRunner);

}  // namespace vantorel
