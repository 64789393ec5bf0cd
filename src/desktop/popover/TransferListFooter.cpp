// The popover's footer: the folder, web and rescan buttons, the log, help
// and settings menus, and the commands they run.

#include "desktop/popover/TransferListViewController.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QWidgetAction>

#include "desktop/helpers/PauseSyncingAction.h"
#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/helpers/Workspace.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/popover/HelpCenter.h"
#include "desktop/popover/HelpMenuRows.h"
#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/UpdatePortalWindow.h"
#include "engine/Tracker.h"
#include "shell/AppCommands.h"
#include "shell/BuildInfo.h"
#include "units/fs/AtomicFile.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {

// Return and Enter on a focused tool button: its menu, or a click.
class ReturnClicks : public QObject {
public:
  explicit ReturnClicks(QToolButton* button) : QObject(button), button_(button) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
    if (button_->menu() != nullptr)
      button_->showMenu();
    else
      button_->click();
    return true;
  }

private:
  QToolButton* button_;
};

QToolButton* FooterButton(QWidget* parent, const char* name, const char* themeIcon, const QString& label,
                          const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoRaise(true);
  button->setIconSize(QSize(18, 18));
  button->setFixedHeight(28);
  const QIcon icon = ThemeIcon(QLatin1String(themeIcon));
  if (icon.isNull()) {
    button->setText(label);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  } else {
    button->setIcon(icon);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  }
  button->setToolTip(tip);
  // A sign stands for a word on screen only: a screen reader says the tip.
  button->setAccessibleName(label.size() == 1 ? tip : label);
  // Reached with Tab (a click does not take the focus from the list), and
  // Return works it as Space does.
  button->setFocusPolicy(Qt::TabFocus);
  button->installEventFilter(new ReturnClicks(button));
  return button;
}

QMenu* FooterMenu(QToolButton* button) {
  auto* menu = new QMenu(button);
  menu->setPalette(PopoverWindow::InterfacePalette());
  button->setMenu(menu);
  button->setPopupMode(QToolButton::InstantPopup);
  return menu;
}

}  // namespace

void TTransferListViewController::buildFooter(QLayout* layout) {
  auto* footer = new QWidget(this);
  footer->setFixedHeight(32);
  auto* row = new QHBoxLayout(footer);
  row->setContentsMargins(6, 2, 6, 2);
  row->setSpacing(2);

  auto* folder = FooterButton(footer, "openICloudDrive", "folder", QStringLiteral("Folder"),
                              QStringLiteral("Open the watched folder"));
  connect(folder, &QToolButton::clicked, this, [this] { openICloudDrive(); });
  auto* web = FooterButton(footer, "openICloudOnline", "web-browser", QStringLiteral("Web"),
                           QStringLiteral("Open the cloud service's web site"));
  connect(web, &QToolButton::clicked, this, [this] { openICloudOnline(); });
  auto* again = FooterButton(footer, "rescan", "view-refresh", QStringLiteral("Rescan"),
                             QStringLiteral("Look through the folder for transfers again"));
  connect(again, &QToolButton::clicked, this, [this] { rescan(); });
  row->addWidget(folder);
  row->addWidget(web);
  row->addWidget(again);
  row->addStretch();

  auto* log = FooterButton(footer, "logMenu", "text-x-generic", QStringLiteral("Log"), QStringLiteral("The log"));
  QMenu* logMenu = FooterMenu(log);
  logMenu->addAction(QStringLiteral("Open Log"), this, [this] { openLog(); })->setObjectName("openLog");
  logMenu->addAction(QStringLiteral("Reveal Log"), this, [this] { revealLogInFinder(); })->setObjectName("revealLog");
  logMenu->addAction(QStringLiteral("Clear History…"), this, [this] { clearLog(); })->setObjectName("clearLog");

  auto* help = FooterButton(footer, "helpMenu", "help-browser", QStringLiteral("?"), QStringLiteral("Help"));
  helpMenu_ = FooterMenu(help);
  helpMenu_->setObjectName(QStringLiteral("helpMenu"));
  connect(helpMenu_, &QMenu::aboutToShow, this, [this] { menuWillOpen(); });
  connect(helpMenu_, &QMenu::aboutToHide, this, [this] { menuDidClose(); });

  auto* gear = FooterButton(footer, "settingsMenu", "emblem-system", QStringLiteral("Settings"),
                            QStringLiteral("Preferences and more"));
  QMenu* gearMenu = FooterMenu(gear);
  gearMenu->addAction(QStringLiteral("Preferences…"), this, [this] { openPreferences(); });
  AddPauseSyncingAction(gearMenu, [this] { return commands_; });
  QAction* updates = gearMenu->addAction(QStringLiteral("Check for Updates…"), this, [this] { checkForUpdates(); });
  updates->setObjectName(QStringLiteral("checkForUpdates"));
  connect(gearMenu, &QMenu::aboutToShow, updates,
          [updates] { updates->setVisible(UpdatePortalWindow::IsConfigured(kPortalEndpoint)); });
  gearMenu->addAction(QStringLiteral("About Vantorel"), this, [this] { openAbout(); });
  gearMenu->addSeparator();
  gearMenu->addAction(QStringLiteral("Quit Vantorel"), this, [this] { quit(); });
  row->addWidget(log);
  row->addWidget(help);
  row->addWidget(gear);
  layout->addWidget(footer);
}

// --- commands --------------------------------------------------------------

void TTransferListViewController::clearLog() {
  const int answer = runAlert(QStringLiteral("Are you sure you want to clear the history log?"),
                              QStringLiteral("This action is undoable."),
                              {QStringLiteral("Clear"), QStringLiteral("Cancel")});
  if (answer != 0) return;
  // Emptied in place, and only as the regular file it should be: a link
  // there is not followed, a FIFO not waited for.
  std::string problem;
  if (const auto log = NSPrefs().GetString(kPreferenceKeyHistoryLog); log && doesFileExist(*log) &&
                                                                    !EmptyRegularFile(*log, &problem))
    WriteDiagnosticLine("Cannot clear the transfer log: " + problem + ".");
  // The tracker's list goes too, or the next batch would write it back.
  tracker_.ClearRecentTransfers();
  reloadRecents();
}

// The log's path, or nothing after telling the user why there is no log
// to show: handing a missing file to the desktop fails with no word to them.
std::optional<std::string> TTransferListViewController::existingLogOrSayWhy() {
  const auto log = NSPrefs().GetString(kPreferenceKeyHistoryLog);
  if (log && doesFileExist(*log)) return log;
  const bool keeping = NSPrefs().GetBool(kPreferenceKeyEnableLogging).value_or(false);
  QString why = keeping ? QStringLiteral("Nothing has been logged yet: the log starts with the next finished transfer.")
                        : QStringLiteral("Transfers are not being logged. Tick “Keep a log of transfers” in "
                                         "Preferences to keep one.");
  if (log) why = QString::fromStdString(*log) + QStringLiteral("\n\n") + why;
  runAlert(QStringLiteral("There is no transfer log to open."), why, {QStringLiteral("OK")});
  return std::nullopt;
}

void TTransferListViewController::openLog() {
  closePopover();
  if (const auto log = existingLogOrSayWhy()) OpenWithDefaultHandler(*log);
}

void TTransferListViewController::revealLogInFinder() {
  if (const auto log = existingLogOrSayWhy()) RevealInFileManager(*log);
}

void TTransferListViewController::openICloudDrive() {
  const std::string setting = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or(kDefaultICloudDriveFolder);
  OpenWithDefaultHandler(folderSettingPath(setting).value_or(fileURL(kDefaultICloudDriveFolder)));
  closePopover();
}

void TTransferListViewController::openICloudOnline() { OpenWithDefaultHandler(kCloudWebAddress); }

// The commands that open a window close the popover first: a grabbing
// popup would keep the window from the pointer.
void TTransferListViewController::openPreferences() {
  closePopover();
  if (commands_) commands_->openPreferences();
}

void TTransferListViewController::rescan() {
  closePopover();
  if (commands_) commands_->performRescan(false);
}

void TTransferListViewController::openAbout() {
  closePopover();
  AboutWindow::Open();
}

void TTransferListViewController::checkForUpdates() {
  closePopover();
  if (commands_) commands_->showUpdatePortal();
}

void TTransferListViewController::quit() {
  closePopover();
  if (commands_) commands_->terminate();
}

// --- help menu ---------------------------------------------------------------

void TTransferListViewController::menuWillOpen() {
  if (popover_) popover_->SetTransient(false);
  helpMenu_->clear();
  auto* loading = new QWidgetAction(helpMenu_);
  loading->setText(QStringLiteral("Downloading articles..."));
  loading->setDefaultWidget(MakeLoadingRow(helpMenu_));
  helpMenu_->addAction(loading);
  HelpCenter::Delegate delegate;
  delegate.didLoad = [this] { helpMenu_->clear(); };
  delegate.failed = [this] {
    helpMenu_->clear();
    helpMenu_->addAction(QStringLiteral("Error downloading articles"))->setEnabled(false);
  };
  delegate.didReceiveArticle = [this](const HelpArticle& article) {
    auto* item = new QWidgetAction(helpMenu_);
    item->setText(QStringLiteral("article"));
    item->setDefaultWidget(new ArticleRow(
        article,
        [this](const std::string& link) {
          OpenWithDefaultHandler(link);
          helpMenu_->close();
          closePopover();
        },
        helpMenu_));
    helpMenu_->addAction(item);
  };
  if (helpController_) helpController_->Close();
  helpController_ = new HelpCenter(supportAddress_, std::move(delegate), this);
}

void TTransferListViewController::menuDidClose() {
  WriteVerboseLine("closed menu");
  if (helpController_) {
    helpController_->Close();
    helpController_->deleteLater();
    helpController_ = nullptr;
  }
  // After the click that closed the menu has been dealt with: that click is
  // not one that closes the popover.
  QTimer::singleShot(0, this, [this] {
    if (popover_) popover_->SetTransient(true);
  });
}

}  // namespace vantorel
