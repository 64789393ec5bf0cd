#include "shell/ApplicationRun.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "shell/AppController.h"
#include "shell/ControlService.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"

namespace vantorel {

ApplicationRun::ApplicationRun(MainLoop& loop, RunRequest request) : loop_(loop), request_(std::move(request)) {
  MainLoop::SetMain(&loop_);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(TUserDefaults::DefaultFilePath(), &loop_));
  if (request_.folder) NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *request_.folder);
  SetVerbose(request_.verbose || NSPrefs().BoolForKey(kPreferenceKeyVerboseLogging));
}

ApplicationRun::~ApplicationRun() {
  // The store saves what is pending while the loop still exists.
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
}

int ApplicationRun::Run(TAppFace& face, const std::function<void(TAppController&)>& launched,
                        const std::function<int()>& runLoop) {
  int exitCode = 0;
  TAppController controller(face);
  if (request_.folder) controller.SetFolderChosenAtLaunch(*request_.folder);
  // Answered from the start (the launch may wait on a window: `open` raises
  // it), and no longer once the controller quits.
  std::optional<ControlService> service;
  if (request_.control != nullptr) service.emplace(controller, *request_.control);
  if (controller.applicationDidFinishLaunching(&exitCode)) {
    MainLoop::WatchId signalWatch = 0;
    if (request_.signalFd >= 0) {
      const int fd = request_.signalFd;
      signalWatch = loop_.WatchReadable(fd, [this, fd] {
        signalfd_siginfo info;
        while (::read(fd, &info, sizeof info) == sizeof info) {
        }
        loop_.Quit();
      });
    }
    if (launched) launched(controller);
    if (request_.afterLaunch) request_.afterLaunch();
    if (request_.rescan) controller.performRescan(false);
    exitCode = runLoop();
    if (request_.signalFd >= 0) loop_.Unwatch(signalWatch);
  }
  service.reset();
  controller.Quit();
  return exitCode;
}

}  // namespace vantorel
