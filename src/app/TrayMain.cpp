// vantorel-tray: the application with the desktop face, started by
// `vantorel` when a display can be reached (its first argument is then the
// `vantorel` that started it). Run on its own it behaves as `vantorel`.

#include <unistd.h>

#include "app/Launcher.h"
#include "desktop/DesktopApplication.h"
#include "units/runtime/ProgramLocations.h"

int main(int argc, char** argv) {
  if (argc > 0 && argv[0][0] == '/' && ::access(argv[0], X_OK) == 0) vantorel::SetLauncherPath(argv[0]);
  return vantorel::LaunchVantorel(argc, argv, &vantorel::RunDesktopApplication);
}
