#pragma once
// Where this program's executables are. Each face is an executable of its
// own, so that `vantorel` itself (which sends commands to a running
// instance) loads neither a toolkit nor the engine's libraries: it hands a
// run over to the face's executable.

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

// The face executable `name` that goes with the launcher: beside it (a
// build tree), or in "../libexec/vantorel/" from it (an installation).
// Empty when neither is there.
std::string FaceExecutablePath(const std::string& name);

inline constexpr const char* kTrayExecutableName = "vantorel-tray";
inline constexpr const char* kConsoleExecutableName = "vantorel-console";

}  // namespace vantorel
