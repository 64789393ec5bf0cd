#pragma once
// The popover's controller and content: a header (status line, progress
// wheel, disk usage), a two-segment switch between the transfers in
// progress and the recent transfers, and a footer of commands (the watched
// folder, the web site, rescan, the log, help, settings). A new one is made
// each time the popover opens; the most recent one is the shared
// controller. It reads everything it shows from the tracker and changes it
// only through the row actions and the clearing of the history.
// Main thread only, apart from the disk-usage probe's own thread.

#include <QPointer>
#include <QWidget>

#include <optional>
#include <map>
#include <string>

#include <functional>
#include <string>
#include <vector>

#include "desktop/popover/PopoverWindow.h"

class QLabel;
class QPushButton;
class QMenu;
class QStackedWidget;
class QToolButton;

namespace vantorel {

class DelayedCall;
class HelpCenter;
class ProgressWheelWidget;
class SegmentedControl;
class TAppCommands;
class TICloudTracker;
class TransferListModel;
class TransferListView;

class TTransferListViewController : public QWidget {
public:
  static constexpr int kPopoverHeight = 264;

  // `setHighlighted`: the tray icon's highlight while the popover shows.
  TTransferListViewController(TICloudTracker& tracker, TAppCommands* commands,
                              std::function<void(bool)> setHighlighted);
  ~TTransferListViewController() override;

  // The most recently made controller (none once it has gone).
  static TTransferListViewController* sharedController();

  // --- the popover ----------------------------------------------------
  // Shows the popover beside `anchor` (global coordinates); while one
  // exists, only says "popover is already shown.".
  void showRelativeToRect(const QRect& anchor, PopoverWindow::Kind kind);
  // True from showing until 0.1 s after closing (when it is released).
  bool isPopoverShown() const { return popover_ != nullptr; }
  // Closes it (an ordinary window, with no tray, stays).
  void closePopover();
  PopoverWindow* popover() const { return popover_; }

  // --- tabs and lists -------------------------------------------------
  void tabButtonChanged();
  void updatePopoverSize();
  // "transfers" or "history".
  QString selectedTabIdentifier() const;
  void reloadTransfers();
  void reloadRecents();
  // The Delete key on the transfer list: asks, then stops tracking the
  // selected rows.
  void deleteTransfers();
  void updateStatus();

  // --- commands -------------------------------------------------------
  void clearLog();
  void openLog();
  void revealLogInFinder();
  void openICloudDrive();
  void openICloudOnline();
  void openPreferences();
  void rescan();
  void openAbout();
  void checkForUpdates();
  void quit();

  // --- help menu ------------------------------------------------------
  // Where the article list comes from (a build-time constant by default).
  void setSupportAddress(const QString& address) { supportAddress_ = address; }
  QMenu* helpMenu() const { return helpMenu_; }
  void menuWillOpen();
  void menuDidClose();

  // Runs an alert over the popover (which stays, and is back afterwards);
  // returns the index of the button chosen. Tests answer it.
  int runAlert(const QString& message, const QString& informative, const QStringList& buttons);
  std::optional<std::string> existingLogOrSayWhy();

  TransferListView* transferList() const { return transferList_; }
  TransferListView* recentList() const { return recentTransfers_; }
  TransferListModel* transferModel() const { return transferModel_; }
  TransferListModel* recentModel() const { return recentModel_; }
  const std::vector<std::string>& transfers() const { return transfers_; }
  SegmentedControl* tabButton() const { return tabButton_; }

protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  void buildHeader(QLayout* layout);
  // The strip below the header that says when no include pattern matches
  // the watched folder (so nothing there is tracked), with a button that
  // adds one; else why transfers wait, else the uploads' line; hidden when
  // none of them is said.
  void buildUntrackedNotice(QLayout* layout);
  void updateUntrackedNotice();
  void buildFooter(QLayout* layout);
  void popoverWillShow();
  void popoverDidClose();
  void releasePopover();
  void updateICloudDiskUsageUI(const std::string& size);
  void refreshVisibleRows(TransferListView* list);
  void removeRow(int row);
  void revealRow(TransferListView* list, int row);
  void selectTab(int index);

  TICloudTracker& tracker_;
  TAppCommands* commands_;
  std::function<void(bool)> setHighlighted_;
  QPointer<PopoverWindow> popover_;
  QString supportAddress_;

  QLabel* statusField_;
  ProgressWheelWidget* progressWheel_;
  QLabel* diskStatusField_;
  QWidget* untrackedNotice_;
  QLabel* untrackedText_;
  QPushButton* untrackedButton_;  // "Track It", or "Choose…" when no folder is set
  // Why the transfers in progress cannot move, as the last status read it
  // (shown in the notice's place, with no button).
  std::string waitingFor_;
  // Otherwise whether it is safe to shut down ("All files are uploaded."),
  // where the user wants it said; empty where not.
  std::string uploadsLine_;
  SegmentedControl* tabButton_;
  QWidget* tabRow_;
  QStackedWidget* tabView_;
  TransferListView* transferList_;
  TransferListModel* transferModel_;
  QStackedWidget* historyPage_;
  TransferListView* recentTransfers_;
  TransferListModel* recentModel_;
  QLabel* recentEmptyField_;
  QMenu* helpMenu_ = nullptr;
  HelpCenter* helpController_ = nullptr;

  std::vector<std::string> transfers_;
  // The failed transfers as last read, with the client's reasons: listed
  // with the batch's transfers (and alone once it ended).
  std::map<std::string, std::string> failures_;
  // The state the tab row was last set for; while the tabs hold still it
  // may lag the tracker's.
  bool transfersInProgress_ = false;
  // The tabs hold still while the pointer is over the popover or after the
  // user picked one (until the pointer leaves or the popover closes): a
  // row or tab that moves under the pointer gets the wrong click.
  bool pointerInside_ = false;
  bool userPickedTab_ = false;
  DelayedCall* reloadRecentsLater_;
  DelayedCall* releaseLater_;
};

}  // namespace vantorel
