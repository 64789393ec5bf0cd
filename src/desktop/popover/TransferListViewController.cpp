#include "desktop/popover/TransferListViewController.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <cstdio>
#include <utility>

#include "desktop/helpers/PauseSyncingAction.h"
#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/helpers/Workspace.h"
#include "desktop/popover/DelayedCall.h"
#include "desktop/popover/DiskUsageProbe.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/popover/HelpCenter.h"
#include "desktop/popover/HelpMenuRows.h"
#include "desktop/popover/ProgressWheelWidget.h"
#include "desktop/popover/SegmentedControl.h"
#include "desktop/popover/TransferListModel.h"
#include "desktop/popover/TransferListView.h"
#include "desktop/popover/TransferOrder.h"
#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/UpdatePortalWindow.h"
#include "engine/Tracker.h"
#include "shell/AppCommands.h"
#include "shell/BuildInfo.h"
#include "shell/FolderInclusion.h"
#include "shell/StatusLine.h"
#include "units/fs/AtomicFile.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
QPointer<TTransferListViewController> shared;

constexpr int kReleaseDelay = 100;       // milliseconds after closing
constexpr int kRecentsReloadDelay = 500;  // while the history tab shows
const QString kTransfersTab = QStringLiteral("transfers");
const QString kHistoryTab = QStringLiteral("history");

QFrame* Separator(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setFixedHeight(1);
  QPalette palette = line->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Mid));
  line->setPalette(palette);
  return line;
}

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

QString Short(const std::string& text) { return QString::fromStdString(shortString(text)); }
}  // namespace

TTransferListViewController* TTransferListViewController::sharedController() { return shared; }

TTransferListViewController::TTransferListViewController(TICloudTracker& tracker, TAppCommands* commands,
                                                         std::function<void(bool)> setHighlighted)
    : tracker_(tracker),
      commands_(commands),
      setHighlighted_(std::move(setHighlighted)),
      supportAddress_(QLatin1String(kSupportPageAddress)),
      reloadRecentsLater_(new DelayedCall([this] { reloadRecents(); }, this)),
      releaseLater_(new DelayedCall([this] { releasePopover(); }, this)) {
  setObjectName(QStringLiteral("transferListViewController"));
  setPalette(PopoverWindow::InterfacePalette());
  setAutoFillBackground(true);
  setFixedWidth(PopoverWindow::kWidth);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  buildHeader(layout);
  buildUntrackedNotice(layout);
  layout->addWidget(Separator(this));

  tabButton_ = new SegmentedControl({QStringLiteral("Transfers"), QStringLiteral("Recent")}, this);
  tabButton_->setObjectName(QStringLiteral("tabButton"));
  tabButton_->SetChangeAction([this] {
    userPickedTab_ = true;
    tabButtonChanged();
  });
  // The row hides with the switch, margins and all.
  tabRow_ = new QWidget(this);
  auto* segmentRow = new QHBoxLayout(tabRow_);
  segmentRow->setContentsMargins(0, 5, 0, 5);
  segmentRow->addStretch();
  tabButton_->setParent(tabRow_);
  segmentRow->addWidget(tabButton_);
  segmentRow->addStretch();
  layout->addWidget(tabRow_);

  tabView_ = new QStackedWidget(this);
  tabView_->setObjectName(QStringLiteral("tabView"));
  transferList_ = new TransferListView(true, tabView_);
  transferList_->setAccessibleName(QStringLiteral("Transfers"));
  transferList_->setObjectName(kTransfersTab);
  transferModel_ = new TransferListModel(TransferListModel::Kind::Transfers, this);
  transferModel_->SetCompletionQuery([this](const std::string& path) { return tracker_.IsTransferComplete(path); });
  transferModel_->SetDownloadQuery([this](const std::string& path) -> std::optional<std::string> {
    ItemStateSource& source = *tracker_.GetItemSource();
    return source.IsDownloadFile(path) ? source.ItemOfDownloadFile(path) : std::nullopt;
  });
  transferModel_->SetPercentQuery(
      [this](const std::string& path) { return tracker_.GetItemSource()->PercentDone(path); });
  transferList_->setModel(transferModel_);
  transferList_->SetRowClickAction([this](int row) { revealRow(transferList_, row); });
  transferList_->SetDeleteAction([this] { deleteTransfers(); });
  transferList_->SetRemoveAction([this](int row) { removeRow(row); });
  transferList_->SetRevealAction([this](int row) {
    const std::string& path = transferModel_->PathAt(row);
    if (doesFileExist(path))
      RevealInFileManager(path);
    else
      Beep();
  });
  tabView_->addWidget(transferList_);

  historyPage_ = new QStackedWidget(tabView_);
  historyPage_->setObjectName(kHistoryTab);
  recentTransfers_ = new TransferListView(false, historyPage_);
  recentTransfers_->setAccessibleName(QStringLiteral("Recent transfers"));
  recentTransfers_->setObjectName(QStringLiteral("recentTransfers"));
  recentModel_ = new TransferListModel(TransferListModel::Kind::Recents, this);
  recentTransfers_->setModel(recentModel_);
  recentTransfers_->SetRowClickAction([this](int row) { revealRow(recentTransfers_, row); });
  recentEmptyField_ = new QLabel(historyPage_);
  recentEmptyField_->setObjectName(QStringLiteral("recentEmptyField"));
  recentEmptyField_->setAlignment(Qt::AlignCenter);
  recentEmptyField_->setAutoFillBackground(true);
  setSecondaryText(*recentEmptyField_);
  QPalette onBase = recentEmptyField_->palette();
  onBase.setColor(QPalette::Window, onBase.color(QPalette::Base));
  recentEmptyField_->setPalette(onBase);
  historyPage_->addWidget(recentTransfers_);
  historyPage_->addWidget(recentEmptyField_);
  tabView_->addWidget(historyPage_);
  layout->addWidget(tabView_, 1);

  layout->addWidget(Separator(this));
  buildFooter(layout);

  // What the popover shows as it opens: the history, until a transfer runs.
  reloadRecents();
  tabButton_->SetSelectedSegment(1);
  tabButton_->SetSegmentEnabled(0, false);
  if (const auto folder = folderSettingPath(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("")))
    new DiskUsageProbe(*folder, [this](const std::string& size) { updateICloudDiskUsageUI(size); }, this);
  updateStatus();
  shared = this;
}

TTransferListViewController::~TTransferListViewController() {
  if (helpController_) helpController_->Close();
}

void TTransferListViewController::buildHeader(QLayout* layout) {
  auto* header = new QWidget(this);
  header->setFixedHeight(56);
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(12, 8, 12, 8);
  row->setSpacing(10);
  progressWheel_ = new ProgressWheelWidget(header);
  row->addWidget(progressWheel_, 0, Qt::AlignVCenter);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(1);
  statusField_ = new QLabel(header);
  statusField_->setObjectName(QStringLiteral("statusField"));
  statusField_->setTextFormat(Qt::PlainText);
  QFont semibold = statusField_->font();
  semibold.setWeight(QFont::DemiBold);
  statusField_->setFont(semibold);
  diskStatusField_ = new QLabel(header);
  diskStatusField_->setObjectName(QStringLiteral("diskStatusField"));
  diskStatusField_->setTextFormat(Qt::PlainText);
  setSecondaryText(*diskStatusField_, 0.85);
  const auto stored = NSPrefs().GetString(kPreferenceKeyICloudDiskUsage);
  diskStatusField_->setText(stored ? Short(*stored + " on disk") : QStringLiteral("Calculating disk usage..."));
  texts->addStretch();
  texts->addWidget(statusField_);
  texts->addWidget(diskStatusField_);
  texts->addStretch();
  row->addLayout(texts, 1);
  layout->addWidget(header);
}

void TTransferListViewController::buildUntrackedNotice(QLayout* layout) {
  untrackedNotice_ = new QWidget(this);
  untrackedNotice_->setObjectName(QStringLiteral("untrackedNotice"));
  auto* row = new QHBoxLayout(untrackedNotice_);
  row->setContentsMargins(12, 0, 12, 6);
  row->setSpacing(8);
  untrackedText_ = new QLabel(untrackedNotice_);
  untrackedText_->setObjectName(QStringLiteral("untrackedNoticeText"));
  untrackedText_->setTextFormat(Qt::PlainText);
  untrackedText_->setWordWrap(true);
  setSecondaryText(*untrackedText_, 0.85);
  auto* track = new QPushButton(QStringLiteral("Track It"), untrackedNotice_);
  track->setObjectName(QStringLiteral("trackFolderButton"));
  connect(track, &QPushButton::clicked, this, [this] {
    if (const auto folder = folderSettingPath(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("")))
      IncludeChosenFolder(NSPrefs(), *folder);
    updateUntrackedNotice();
  });
  row->addWidget(untrackedText_, 1);
  row->addWidget(track, 0, Qt::AlignVCenter);
  layout->addWidget(untrackedNotice_);
  updateUntrackedNotice();
}

void TTransferListViewController::updateUntrackedNotice() {
  const auto folder = folderSettingPath(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or(""));
  const bool untracked = folder && isDirectory(*folder) && !FolderIsIncluded(NSPrefs(), *folder);
  if (untracked)
    untrackedText_->setText(QStringLiteral("Nothing in %1 is tracked: no include pattern matches it.")
                                .arg(QString::fromStdString(PathWithTilde(*folder))));
  untrackedNotice_->setVisible(untracked);
}

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

// --- the popover -------------------------------------------------------

void TTransferListViewController::showRelativeToRect(const QRect& anchor, PopoverWindow::Kind kind) {
  if (popover_) {
    WriteVerboseLine("popover is already shown.");
    return;
  }
  popover_ = new PopoverWindow(kind);
  popover_->SetWillShow([this] { popoverWillShow(); });
  popover_->SetDidClose([this] { popoverDidClose(); });
  // The window keeps the controller as long as it exists.
  popover_->SetContent(this);
  popover_->ShowBeside(anchor);
}

void TTransferListViewController::closePopover() {
  // An ordinary window (no tray) stays until its user closes it: closing it
  // after a command would end the application.
  if (popover_ && popover_->isVisible() && popover_->WindowKind() != PopoverWindow::Kind::Window) popover_->close();
}

void TTransferListViewController::popoverWillShow() {
  if (setHighlighted_) setHighlighted_(true);
  updatePopoverSize();
  // The keyboard starts in the list shown: arrows move along its rows,
  // Return reveals one, Tab goes on to the footer's buttons.
  (selectedTabIdentifier() == kHistoryTab ? recentTransfers_ : transferList_)->setFocus(Qt::PopupFocusReason);
}

void TTransferListViewController::enterEvent(QEnterEvent* event) {
  pointerInside_ = true;
  QWidget::enterEvent(event);
}

void TTransferListViewController::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (!std::exchange(pointerInside_, false) && !userPickedTab_) return;
  userPickedTab_ = false;
  updateStatus();  // what changed meanwhile shows now
}

void TTransferListViewController::popoverDidClose() {
  pointerInside_ = false;
  userPickedTab_ = false;
  if (helpMenu_ && helpMenu_->isVisible()) helpMenu_->close();
  releaseLater_->Schedule(kReleaseDelay);
  if (setHighlighted_) setHighlighted_(false);
  // An ordinary window stands for the tray when there is none: closing it
  // is leaving the application.
  if (popover_ && popover_->WindowKind() == PopoverWindow::Kind::Window && commands_) commands_->terminate();
}

void TTransferListViewController::releasePopover() {
  if (!popover_) return;
  PopoverWindow* window = popover_;
  popover_ = nullptr;
  // Deferred: this controller is the window's content and goes with it.
  window->deleteLater();
}

// --- tabs and lists ------------------------------------------------------

void TTransferListViewController::selectTab(int index) {
  if (index < 0 || index >= tabView_->count() || index == tabView_->currentIndex()) return;
  // Before the history tab shows, its list is brought up to date.
  if (tabView_->widget(index)->objectName() == kHistoryTab) reloadRecents();
  tabView_->setCurrentIndex(index);
  updatePopoverSize();
}

void TTransferListViewController::tabButtonChanged() { selectTab(tabButton_->SelectedSegment()); }

QString TTransferListViewController::selectedTabIdentifier() const { return tabView_->currentWidget()->objectName(); }

void TTransferListViewController::updatePopoverSize() {
  if (!popover_) return;
  const QString tab = selectedTabIdentifier();
  if (tab == kTransfersTab || tab == kHistoryTab) popover_->SetContentHeight(kPopoverHeight);
}

void TTransferListViewController::reloadTransfers() {
  transfers_ = tracker_.GetTotalTransfers();
  SortTransfersByName(transfers_);
  transferModel_->SetWatchedFolder(tracker_.GetDirectory());
  // A finished batch lists nothing, though its paths are kept until cleared.
  transferModel_->SetPaths(tracker_.Snapshot().finished ? std::vector<std::string>{} : transfers_);
  transferList_->SetButtonsHidden(-1, true);
}

void TTransferListViewController::reloadRecents() {
  tracker_.CleanRecentTransfers();
  const auto recent = tracker_.GetRecentTransfers();
  recentModel_->SetWatchedFolder(tracker_.GetDirectory());
  recentModel_->SetPaths(recent.value_or(std::vector<std::string>{}));
  if (!recent)
    recentEmptyField_->setText(QStringLiteral("History is unavailable"));
  else if (recent->empty())
    recentEmptyField_->setText(QStringLiteral("No recent transfers"));
  historyPage_->setCurrentWidget(recent && !recent->empty() ? static_cast<QWidget*>(recentTransfers_)
                                                            : static_cast<QWidget*>(recentEmptyField_));
}

void TTransferListViewController::refreshVisibleRows(TransferListView* list) {
  // Only rows on screen are read again; the rest are read when scrolled to.
  const auto [first, last] = list->VisibleRows();
  if (first >= 0) static_cast<TransferListModel*>(list->model())->Refresh(first, last);
}

void TTransferListViewController::updateStatus() {
  // One reading for the whole refresh: the line, the wheel and the tabs agree.
  const TrackerSnapshot s = tracker_.Snapshot();
  const bool running = s.inProgress > 0;
  const bool tabsHoldStill = pointerInside_ || userPickedTab_;
  if (!tabsHoldStill) {
    if (running != transfersInProgress_) tabButton_->SetSelectedSegment(running ? 0 : 1);
    tabRow_->setVisible(s.status != TrackerSnapshot::Status::Idle);
    tabButton_->SetSegmentEnabled(0, running);
    transfersInProgress_ = running;
  }
  statusField_->setText(QString::fromStdString(StatusLineText(s, CurrentAbsoluteTime())));
  updateUntrackedNotice();
  if (transferModel_->rowCount() != s.total || !running) reloadTransfers();
  refreshVisibleRows(transferList_);
  ProgressWheelState& wheel = progressWheel_->Wheel();
  wheel.SetMinValue(0.0);
  wheel.SetMaxValue(running ? s.total : 0.0);
  wheel.SetCurrentValue(running ? s.completed : 0.0);
  progressWheel_->Changed();
  if (selectedTabIdentifier() == kHistoryTab) reloadRecentsLater_->Schedule(kRecentsReloadDelay);
  tabButtonChanged();
  updatePopoverSize();
}

int TTransferListViewController::runAlert(const QString& message, const QString& informative,
                                          const QStringList& buttons) {
  // A grabbing popup would take the alert's clicks for clicks elsewhere:
  // it steps aside while the alert runs and comes back after.
  QPointer<PopoverWindow> window = popover_;
  const bool popup = window && window->isVisible() && window->WindowKind() == PopoverWindow::Kind::Popup;
  if (window) window->SetTransient(false);
  if (popup) window->hide();
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantorel"), message);
  box.setObjectName(QStringLiteral("alert"));
  box.setTextFormat(Qt::PlainText);  // the texts may carry file names
  box.setInformativeText(informative);
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
    label->setTextFormat(Qt::PlainText);
  std::vector<QAbstractButton*> made;
  for (int i = 0; i < buttons.size(); ++i)
    made.push_back(box.addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  if (!made.empty()) box.setDefaultButton(static_cast<QPushButton*>(made.front()));
  box.exec();
  int answer = static_cast<int>(made.size()) - 1;  // closed: the last choice, a Cancel
  for (std::size_t i = 0; i < made.size(); ++i)
    if (box.clickedButton() == made[i]) answer = static_cast<int>(i);
  if (window) {
    window->SetTransient(true);
    if (popup) window->show();
  }
  return answer;
}

void TTransferListViewController::deleteTransfers() {
  const std::vector<std::int32_t> rows = selectedRows(*transferList_);
  if (rows.empty()) return;
  // The paths as they are now: the answer may come after the list changed.
  std::vector<std::string> paths;
  for (const std::int32_t row : rows)
    if (row < transferModel_->rowCount()) paths.push_back(transferModel_->PathAt(row));
  const QString question = rows.size() == 1 ? QStringLiteral("Are you sure you want to ignore 1 transfer?")
                                            : QStringLiteral("Are you sure you want to ignore %1 transfers?").arg(rows.size());
  const int answer = runAlert(question,
                              QStringLiteral("The files you ignore will still be transferred by iCloud but not "
                                             "tracked within the app."),
                              {QStringLiteral("Ignore"), QStringLiteral("Cancel")});
  if (answer != 0) return;
  // Every selected row, on screen or not: the question counted them all.
  std::vector<std::string> present;
  bool missing = false;
  for (const std::string& path : paths) (doesFileExist(path) ? present.push_back(path) : void(missing = true));
  if (missing) Beep();
  if (present.empty()) return;
  tracker_.RemoveTransfers(present);
  updateStatus();
}

void TTransferListViewController::removeRow(int row) {
  const std::string path = transferModel_->PathAt(row);
  if (!doesFileExist(path)) {
    Beep();
    return;
  }
  tracker_.RemoveTransfers({path});
  transferList_->SetButtonsHidden(-1, true);
  transferModel_->Refresh(row, row);
  updateStatus();
}

void TTransferListViewController::revealRow(TransferListView* list, int row) {
  const auto* model = static_cast<TransferListModel*>(list->model());
  RevealInFileManager(model->PathAt(row));
  closePopover();
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

void TTransferListViewController::updateICloudDiskUsageUI(const std::string& size) {
  NSPrefs().SetString(kPreferenceKeyICloudDiskUsage, size);
  diskStatusField_->setText(Short(size + " on disk"));
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
