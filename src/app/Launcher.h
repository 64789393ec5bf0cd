#pragma once
// A run of Vantorel from its command line: the arguments, the
// demonstration, the one-instance guard, the quit signals, then the face's
// run. Shared by the face executables, which `vantorel` starts.

#include "shell/ApplicationRun.h"

namespace vantorel {

// Builds a face's main loop and face and runs them (RunDesktopApplication,
// RunConsoleApplication); returns the exit status.
using FaceRunner = int (*)(int& argc, char** argv, RunRequest request);

// Returns the exit status.
int LaunchVantorel(int argc, char** argv, FaceRunner runFace);

}  // namespace vantorel
