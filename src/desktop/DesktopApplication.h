#pragma once
// Runs the application with the desktop face on Qt's event loop.

#include "shell/ApplicationRun.h"

namespace vantorel {

// Builds Qt's application (from the command line), its main loop and the
// desktop face, and runs them until Quit (the menu, a panel's Quit, or SIGINT/SIGTERM). Returns
// the exit status.
int RunDesktopApplication(int& argc, char** argv, RunRequest request);

}  // namespace vantorel
