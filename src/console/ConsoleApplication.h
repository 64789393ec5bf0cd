#pragma once
// Runs the application with the console face on a poll-based main loop.

#include "shell/ApplicationRun.h"

namespace vantorel {

// Runs until SIGINT/SIGTERM (through the request's signal descriptor) or a
// quit request; returns the exit status.
int RunConsoleApplication(int& argc, char** argv, RunRequest request);

}  // namespace vantorel
