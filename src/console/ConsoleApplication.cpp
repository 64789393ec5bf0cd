#include "console/ConsoleApplication.h"

#include "console/ConsoleFace.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/PollMainLoop.h"

namespace vantorel {

int RunConsoleApplication(int&, char**, RunRequest request) {
  PollMainLoop loop;
  const std::optional<std::string> folder = request.folder;
  ApplicationRun run(loop, std::move(request));
  auto face = MakeRef<ConsoleFace>(folder);
  face->ObserveNetwork();
  bool launched = false;
  const int exitCode = run.Run(
      *face, [&launched](TAppController&) { launched = true; },
      [&loop] {
        loop.Run();
        return 0;
      });
  // Nobody can be asked on a terminal; the launch said why it stopped.
  if (!launched && exitCode != 0) WriteDiagnosticLine("Pass --folder PATH to choose the folder to watch.");
  return exitCode;
}

}  // namespace vantorel
