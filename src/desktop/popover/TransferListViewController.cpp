// The popover's controller: its tabs and their lists, the popover window
// it lives in, and alerts; the header and the footer are built and run in
// TransferListHeader.cpp and TransferListFooter.cpp.

#include "desktop/popover/TransferListViewController.h"

#include <algorithm>

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <utility>

#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/helpers/Workspace.h"
#include "desktop/popover/DelayedCall.h"
#include "desktop/popover/DiskUsageProbe.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/popover/HelpCenter.h"
#include "desktop/popover/ProgressWheelWidget.h"
#include "desktop/popover/SegmentedControl.h"
#include "desktop/popover/TransferListModel.h"
#include "desktop/popover/TransferListView.h"
#include "desktop/popover/TransferOrder.h"
#include "engine/Tracker.h"
#include "shell/AppCommands.h"
#include "shell/BuildInfo.h"
#include "shell/FolderInclusion.h"
#include "shell/StatusLine.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"

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
  transferModel_->SetFailureQuery([this](const std::string& path) -> std::optional<std::string> {
    const auto it = failures_.find(path);
    return it == failures_.end() ? std::nullopt : std::optional<std::string>(it->second);
  });
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
  failures_ = tracker_.GetFailedTransfers();
  // A finished batch lists only its failures, though its paths are kept
  // until cleared.
  if (tracker_.Snapshot().finished) transfers_.clear();
  for (const auto& [path, reason] : failures_)
    if (std::find(transfers_.begin(), transfers_.end(), path) == transfers_.end()) transfers_.push_back(path);
  SortTransfersByName(transfers_);
  transferModel_->SetWatchedFolder(tracker_.GetDirectory());
  transferModel_->SetPaths(transfers_);
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
    // Failed transfers keep the list there until retried or removed.
    tabRow_->setVisible(s.status != TrackerSnapshot::Status::Idle || s.failed > 0);
    tabButton_->SetSegmentEnabled(0, running || s.failed > 0);
    transfersInProgress_ = running;
  }
  statusField_->setText(QString::fromStdString(StatusLineText(s, CurrentAbsoluteTime())));
  waitingFor_ = s.waitingFor;
  const std::optional<bool> held = commands_ ? commands_->shutdownHeld() : std::nullopt;
  uploadsLine_ = held ? UploadsLineText(s, *held) : std::string();
  transferModel_->SetWaiting(!s.waitingFor.empty());
  updateUntrackedNotice();
  if (transferModel_->rowCount() != s.total + s.failed || !running) reloadTransfers();
  refreshVisibleRows(transferList_);
  ProgressWheelState& wheel = progressWheel_->Wheel();
  wheel.SetMinValue(0.0);
  wheel.SetMaxValue(running ? s.total : 0.0);
  wheel.SetCurrentValue(running ? std::min<double>(s.total, s.completed + s.inProgressDone) : 0.0);
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
  // A failure goes from the list whether or not its file is still there.
  if (!doesFileExist(path) && failures_.count(path) == 0) {
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

}  // namespace vantorel
