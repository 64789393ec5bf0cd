#include "desktop/DesktopApplication.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include "desktop/DesktopFace.h"
#include "desktop/helpers/ContrastStyle.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/helpers/QtMainLoop.h"
#include "shell/AppController.h"

namespace vantorel {

int RunDesktopApplication(int& argc, char** argv, RunRequest request) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantorel"));
  QApplication::setDesktopFileName(QStringLiteral("vantorel"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantorel.svg")));
  PrepareIconThemes();
  ContrastStyle::Install();
  // A tray application: closing a dialog is no reason to end.
  QApplication::setQuitOnLastWindowClosed(false);

  QtMainLoop loop;
  const std::optional<std::string> folder = request.folder;
  ApplicationRun run(loop, std::move(request));
  DesktopFace face(loop, folder);
  return run.Run(
      face,
      [&face](TAppController& controller) {
        // No tray to click: the popover is an ordinary window from the start.
        if (!QSystemTrayIcon::isSystemTrayAvailable() && controller.GetTracker() != nullptr)
          face.OpenPopover(*controller.GetTracker());
      },
      [&face] {
        QApplication::exec();
        return face.ExitCode();
      });
}

}  // namespace vantorel
