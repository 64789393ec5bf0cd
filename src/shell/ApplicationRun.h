#pragma once
// One run of the application for any face, from launch to orderly teardown.
// A face builds its main loop, makes an ApplicationRun on it (which installs
// the loop and the preferences store), builds its face, and hands both to
// Run. Main thread only.

#include <functional>
#include <optional>
#include <string>

namespace vantorel {

class ControlSocket;
class MainLoop;
class TAppController;
class TAppFace;

// What the command line and the launcher ask of a run.
struct RunRequest {
  // The folder given on the command line: stored as the watched folder.
  std::optional<std::string> folder;
  // Scan the folder once after launching.
  bool rescan = false;
  // Print the ordinary doings too (else only with "VerboseLogging").
  bool verbose = false;
  // Readable when SIGINT or SIGTERM arrived (signalfd); -1: none.
  int signalFd = -1;
  // Called once the launch succeeded.
  std::function<void()> afterLaunch;
  // Answered while running (null: no script can reach this run).
  ControlSocket* control = nullptr;
};

class ApplicationRun {
public:
  // Installs `loop` as the main loop and opens the preferences store, with
  // the request's folder stored in it.
  ApplicationRun(MainLoop& loop, RunRequest request);
  // Closes the store and uninstalls the loop; the face must be gone by now.
  ~ApplicationRun();
  ApplicationRun(const ApplicationRun&) = delete;
  ApplicationRun& operator=(const ApplicationRun&) = delete;

  // Launches the application controller on `face`; when it launched,
  // `launched` (optional) runs, the control socket is answered and
  // `runLoop` runs the loop until Quit (its result is the exit status).
  // Then the controller quits in order. Returns the exit status.
  int Run(TAppFace& face, const std::function<void(TAppController&)>& launched,
          const std::function<int()>& runLoop);

private:
  MainLoop& loop_;
  const RunRequest request_;
};

}  // namespace vantorel
