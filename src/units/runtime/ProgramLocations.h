#pragma once
// Where this program's executables are. The tray face is an executable of
// its own, so that `vantorel` itself (and every command it sends a running
// instance) loads no toolkit: `vantorel` hands a tray run over to it.

#include <string>

namespace vantorel {

// The running executable (from /proc; "vantorel" when it cannot be read).
std::string OwnExecutablePath();

// The `vantorel` executable a user or a login item starts: the one the
// login item names and beside which the simulated agent is found. Set once
// at the start of main, before any thread; the running executable until then.
void SetLauncherPath(std::string path);
std::string LauncherPath();
// Its folder, with the trailing slash.
std::string LauncherFolder();

// The tray executable that goes with the launcher: beside it (a build
// tree), or in "../libexec/vantorel/" from it (an installation). Empty when
// neither is there.
std::string TrayExecutablePath();

// The tray executable's file name.
inline constexpr const char* kTrayExecutableName = "vantorel-tray";

}  // namespace vantorel
