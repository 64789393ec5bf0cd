#include "desktop/DesktopApplication.h"

#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <cstring>

#include "desktop/DesktopFace.h"
#include "desktop/helpers/QtMainLoop.h"
#include "shell/AppController.h"
#include "shell/ControlService.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {

namespace {
bool CanConnect(const std::string& path, bool abstract) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a NUL
  if (path.size() + offset >= sizeof address.sun_path) {
    ::close(fd);
    return false;
  }
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

bool CanReachDisplay() {
  if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland != nullptr && *wayland != '\0') {
    std::string path = wayland;
    if (path.front() != '/') {
      const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      path = std::string(runtime ? runtime : "") + "/" + path;
    }
    if (CanConnect(path, false)) return true;
  }
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  const std::string text = display;
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = text.substr(0, colon);
  if (!host.empty() && host != "unix" && host.front() != '/') return true;  // remote: let Qt try it
  const std::string number = text.substr(colon + 1, text.find('.', colon) - colon - 1);
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return CanConnect(socket, false) || CanConnect(socket, true);
}

int RunDesktopApplication(int& argc, char** argv, const std::optional<std::string>& folder, bool rescan,
                          int signalFd, const std::function<void()>& afterLaunch, ControlSocket* control) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantorel"));
  QApplication::setDesktopFileName(QStringLiteral("vantorel"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantorel.svg")));
  // A tray application: closing a dialog is no reason to end.
  QApplication::setQuitOnLastWindowClosed(false);

  int exitCode = 0;
  {
    QtMainLoop loop;
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(TUserDefaults::DefaultFilePath(), &loop));
    if (folder) NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *folder);
    {
      DesktopFace face(loop, folder);
      TAppController controller(face);
      const bool launched = controller.applicationDidFinishLaunching(&exitCode);
      if (launched) {
        if (signalFd >= 0)
          loop.WatchReadable(signalFd, [&loop, signalFd] {
            signalfd_siginfo info;
            while (::read(signalFd, &info, sizeof info) == sizeof info) {
            }
            loop.Quit();
          });
        // No tray to click: the popover is an ordinary window from the start.
        if (!QSystemTrayIcon::isSystemTrayAvailable() && controller.GetTracker() != nullptr)
          face.OpenPopover(*controller.GetTracker());
        if (afterLaunch) afterLaunch();
        // Answered from here on, and no longer once the controller is gone.
        std::optional<ControlService> service;
        if (control) service.emplace(controller, *control);
        if (rescan) controller.performRescan(false);
        QApplication::exec();
        exitCode = face.ExitCode();
      } else if (exitCode != 0) {
        // Only a non-interactive launch ends this way; the desktop face asks.
      }
      controller.Quit();
    }
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
  }
  return exitCode;
}

}  // namespace vantorel
