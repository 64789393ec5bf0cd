#pragma once
// Runs the application with the desktop face on Qt's event loop.

#include <functional>
#include <optional>
#include <string>

namespace vantorel {

class ControlSocket;

// Whether a graphical session can be reached: a Wayland socket, or an X
// display (a local one is tried; a remote one is trusted).
bool CanReachDisplay();

// The launch sequence and the run, until Quit (the menu, a panel's Quit, or
// SIGINT/SIGTERM through `signalFd`). `folder`: the folder given on the
// command line; `rescan`: scan once after launching; `afterLaunch`: called
// once the launch succeeded; `control`: the control socket to answer on
// while running (none: no script can reach this run). Returns the exit status.
int RunDesktopApplication(int& argc, char** argv, const std::optional<std::string>& folder, bool rescan,
                          int signalFd, const std::function<void()>& afterLaunch, ControlSocket* control);

}  // namespace vantorel
