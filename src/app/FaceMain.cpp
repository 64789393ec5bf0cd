// vantorel-console and vantorel-tray: a run of Vantorel with one face,
// started by `vantorel` (its first argument is then the `vantorel` that
// started it). VANTOREL_FACE_RUNNER names the face's run function.

#include <unistd.h>

#include "app/Launcher.h"
#include "units/runtime/ProgramLocations.h"
#include VANTOREL_FACE_HEADER

int main(int argc, char** argv) {
  if (argc > 0 && argv[0][0] == '/' && ::access(argv[0], X_OK) == 0) vantorel::SetLauncherPath(argv[0]);
  return vantorel::LaunchVantorel(argc, argv, &vantorel::VANTOREL_FACE_RUNNER);
}
