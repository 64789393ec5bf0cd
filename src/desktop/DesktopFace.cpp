#include "desktop/DesktopFace.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <optional>

#include "desktop/helpers/Appearance.h"
#include "desktop/helpers/PauseSyncingAction.h"
#include "desktop/helpers/QtMainLoop.h"
#include "desktop/helpers/SystemHelpers.h"
#include "desktop/notify/DesktopNotifier.h"
#include "desktop/popover/TransferListViewController.h"
#include "desktop/status/PanelContrast.h"
#include "desktop/status/PanelProbe.h"
#include "desktop/status/StatusItem.h"
#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/FolderPanel.h"
#include "desktop/windows/PreferencesWindow.h"
#include "desktop/windows/UpdatePortalWindow.h"
#include "shell/BuildInfo.h"
#include "desktop/windows/ScannerWindow.h"
#include "desktop/windows/WelcomeWindow.h"
#include "shell/AppCommands.h"
#include "engine/Tracker.h"
#include "shell/StatusLine.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/ProgramLocations.h"

namespace vantorel {

namespace {
constexpr double kPercentRefreshSeconds = 1.0;
}  // namespace

DesktopFace::DesktopFace(QtMainLoop& loop, std::optional<std::string> folder)
    : loop_(loop),
      folder_(std::move(folder)),
      appearance_(new Appearance(this)),
      notifier_(new DesktopNotifier(this)),
      statusLineRefresh_(new QTimer(this)) {
  notifier_->SetActivationAction([this] {
    if (tracker_) OpenPopover(*tracker_);
  });
  statusLineRefresh_->setSingleShot(true);
  connect(statusLineRefresh_, &QTimer::timeout, this, [this] { TrackerStatusChanged(nullptr); });
}

DesktopFace::~DesktopFace() {
  // The popover goes with the face (its tracker is gone by now).
  if (auto* shown = TTransferListViewController::sharedController()) {
    if (PopoverWindow* window = shown->popover())
      delete window;  // and the controller, its content
    else
      delete shown;
  }
}

std::string DesktopFace::ToolkitVersionLine() { return std::string("Toolkit version: Qt ") + qVersion(); }

bool DesktopFace::RaiseModalWindow() {
  QWidget* waiting = QApplication::activeModalWidget();
  if (waiting == nullptr) return false;
  waiting->raise();
  waiting->activateWindow();
  return true;
}

WelcomeChoice DesktopFace::RunWelcome(const WelcomeFolderSource& clientFolders) {
  // A folder given with --folder (or the demo's) is the choice already.
  if (folder_) {
    NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, *folder_);
    return {};
  }
  WelcomeWindow window(clientFolders);
  return window.Run();
}

std::optional<std::string> DesktopFace::RunFolderPanel(const FolderPanel& panel) {
  FolderPanelDialog dialog(panel);
  return dialog.Run();
}

int DesktopFace::RunAlert(const Alert& alert) {
  QMessageBox box;
  box.setWindowTitle(QStringLiteral("Vantorel"));
  box.setText(QString::fromStdString(alert.message));
  box.setTextFormat(Qt::PlainText);  // messages may carry paths
  box.setInformativeText(QString::fromStdString(alert.informative));
  std::vector<QAbstractButton*> buttons;
  for (std::size_t i = 0; i < alert.buttons.size(); ++i)
    buttons.push_back(box.addButton(QString::fromStdString(alert.buttons[i]),
                                    i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  if (!buttons.empty()) box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
  box.exec();
  for (std::size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
  return buttons.size() > 1 ? 1 : 0;  // closed: the last choice a Cancel would make
}

void DesktopFace::LoadStatusItem(int) {
  // The icon stands out from its panel, whatever the windows' appearance.
  statusItem_ = new StatusItem(
      [this] {
        // (While the item is made, what the tray publishes is read here.)
        return UseLightGlyph(StoredStatusItemAppearance(NSPrefs()),
                             statusItem_ ? statusItem_->Panel() : ReadPanelFacts(QRect()),
                             RememberedLightGlyph(NSPrefs()));
      },
      this);
  statusItem_->SetClickAction([this] {
    if (commands_) commands_->statusItemClicked();
  });
  BuildMenu();
  notifier_->SetTrayIcon(statusItem_->Tray());
  if (!QSystemTrayIcon::isSystemTrayAvailable())
    WriteDiagnosticLine("No system tray is available yet: Vantorel keeps running and its icon appears when a tray "
                        "does.");
  statusItem_->Show();
}

void DesktopFace::SetStatusItemLength(int) {
  // The tray sizes its own slots; the icon follows "StatusItemIconSize" itself.
}

void DesktopFace::BuildMenu() {
  menu_ = std::make_unique<QMenu>();
  const auto command = [this](auto call) {
    return [this, call] {
      if (commands_) (commands_->*call)();
    };
  };
  menu_->addAction(QStringLiteral("Open"), this, command(&TAppCommands::statusItemClicked));
  menu_->addAction(QStringLiteral("Preferences…"), this, command(&TAppCommands::openPreferences));
  menu_->addAction(QStringLiteral("Rescan"), this, [this] {
    if (commands_) commands_->performRescan(false);
  });
  AddPauseSyncingAction(menu_.get(), [this] { return commands_; });
  menu_->addSeparator();
  QAction* updates = menu_->addAction(QStringLiteral("Check for Updates…"), this, command(&TAppCommands::showUpdatePortal));
  connect(menu_.get(), &QMenu::aboutToShow, updates,
          [updates] { updates->setVisible(UpdatePortalWindow::IsConfigured(kPortalEndpoint)); });
  menu_->addAction(QStringLiteral("About Vantorel"), this, [] { AboutWindow::Open(); });
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("Quit Vantorel"), this, command(&TAppCommands::terminate));
  statusItem_->SetContextMenu(menu_.get());
}

void DesktopFace::ShowPreferences() { PreferencesWindow::Open(commands_); }

void DesktopFace::ShowUpdatePortal() { UpdatePortalWindow::CheckForUpdates(kPortalEndpoint); }

void DesktopFace::TogglePopover(TICloudTracker& tracker) {
  if (auto* shown = TTransferListViewController::sharedController(); shown && shown->isPopoverShown()) {
    // The window that stood in for a missing tray is brought forward.
    if (shown->popover() && shown->popover()->WindowKind() == PopoverWindow::Kind::Window)
      return OpenPopover(tracker);
    shown->closePopover();
    return;
  }
  ShowPopover(tracker);
}

void DesktopFace::OpenPopover(TICloudTracker& tracker) {
  if (auto* shown = TTransferListViewController::sharedController(); shown && shown->isPopoverShown()) {
    if (QWidget* window = shown->popover()) {
      window->raise();
      window->activateWindow();
    }
    return;
  }
  ShowPopover(tracker);
}

void DesktopFace::ShowPopover(TICloudTracker& tracker) {
  tracker_ = &tracker;
  const bool tray = statusItem_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
  auto* controller = new TTransferListViewController(tracker, commands_, [this](bool highlighted) {
    if (statusItem_) statusItem_->SetHighlighted(highlighted);
  });
  const QRect anchor = statusItem_ ? statusItem_->ClickAnchor() : QRect(QCursor::pos(), QSize(1, 1));
  controller->showRelativeToRect(anchor, PopoverWindow::KindForThisDesktop(tray));
}

void DesktopFace::TrackerStatusChanged(TICloudTracker* tracker) {
  if (tracker) tracker_ = tracker;  // null: the refresh timer, for the one known
  if (statusItem_ && tracker_)
    statusItem_->TrackerStatusChanged(*tracker_, commands_ ? commands_->shutdownHeld() : std::nullopt);
  if (auto* shown = TTransferListViewController::sharedController(); shown && shown->isPopoverShown())
    shown->updateStatus();
  ScheduleStatusLineRefresh();
}

void DesktopFace::ScheduleStatusLineRefresh() {
  std::optional<double> due;
  if (tracker_) {
    const TrackerSnapshot s = tracker_->Snapshot();
    due = SecondsUntilStatusLineChanges(s, CurrentAbsoluteTime());
    // Percentages move with no change of the tracker's: the pie, the
    // tooltip and the rows read them again each second meanwhile.
    if (s.inProgress > 0) due = std::min(due.value_or(kPercentRefreshSeconds), kPercentRefreshSeconds);
  }
  if (!due) {
    statusLineRefresh_->stop();
    return;
  }
  // Just past the boundary, so that the line read then is the new one.
  statusLineRefresh_->start(static_cast<int>(std::ceil(*due * 1000.0)) + 20);
}

void DesktopFace::DeliverNotification(const UserNotification& notification) { notifier_->Deliver(notification); }

void DesktopFace::OpenAtLogin(bool open) { openAtLogin(open, LauncherPath()); }

void DesktopFace::RequestQuit(int exitCode) {
  exitCode_ = exitCode;
  statusLineRefresh_->stop();
  // Gone from the tray at once; the orderly shutdown (scans, the poll
  // thread, the history) follows when the event loop has returned.
  if (statusItem_) statusItem_->Hide();
  loop_.Quit();
}

void DesktopFace::ScannerOpened(TScanner& scanner) {
  auto* window = new ScannerWindow(scanner);
  scannerWindows_[&scanner] = window;
  window->show();
  window->raise();
  window->activateWindow();
}

void DesktopFace::ScannerPathChanged(TScanner& scanner, const std::string& path) {
  if (auto it = scannerWindows_.find(&scanner); it != scannerWindows_.end() && it->second)
    it->second->SetPath(QString::fromStdString(path));
}

void DesktopFace::ScannerResultsChanged(TScanner& scanner, const std::string& results) {
  if (auto it = scannerWindows_.find(&scanner); it != scannerWindows_.end() && it->second)
    it->second->SetResults(QString::fromStdString(results));
}

void DesktopFace::ScannerClosed(TScanner& scanner) {
  auto it = scannerWindows_.find(&scanner);
  if (it == scannerWindows_.end()) return;
  if (it->second) it->second->Finish();
  scannerWindows_.erase(it);
}

}  // namespace vantorel
