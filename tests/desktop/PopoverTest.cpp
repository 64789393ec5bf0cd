// The popover driven as a user would, over a real tracker whose passes the
// test runs: what it says, which tab and rows it shows, what its rows and
// commands do, and the help menu against a server the test runs itself.
// Pictures of both tabs are kept in artefacts/.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QWidgetAction>

#include <functional>

#include "desktop/helpers/Appearance.h"
#include "desktop/helpers/ContrastStyle.h"
#include "desktop/helpers/Workspace.h"
#include "desktop/popover/DelayedCall.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/popover/SegmentedControl.h"
#include "desktop/popover/TransferListModel.h"
#include "desktop/popover/TransferListView.h"
#include "desktop/popover/TransferListViewController.h"
#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/PreferencesWindow.h"
#include "desktop/windows/WelcomeWindow.h"
#include "shell/FolderInclusion.h"
#include "shell/StatusLine.h"
#include "support/TrackerFixture.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PropertyListIO.h"
#include "units/runtime/Diagnostics.h"
#include "ClientCommands.h"

namespace vantorel {
namespace {

void Keep(QWidget& window, const char* name) {
  QApplication::processEvents();  // laid out as the user would see it
  QDir().mkpath(QStringLiteral("artefacts"));
  window.grab().save(QStringLiteral("artefacts/%1.png").arg(QLatin1String(name)));
}

bool SpinUntil(const std::function<bool()>& done, int milliseconds = 5000) {
  for (int waited = 0; waited < milliseconds && !done(); waited += 10) {
    QEventLoop wait;
    QTimer::singleShot(10, &wait, &QEventLoop::quit);
    wait.exec();
  }
  return done();
}

// Answers the next alert with the button `answer`, keeping what it asked.
void AnswerAlert(const QString& answer, QString* asked) {
  QTimer::singleShot(0, [answer, asked] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);  // a name in it is never markup
    if (asked) *asked = box->text();
    for (QAbstractButton* button : box->buttons())
      if (button->text() == answer) button->click();
  });
}

class PopoverTest : public test::TrackerFixture {
protected:
  void SetUp() override {
    TrackerFixture::SetUp();
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    SetWorkspaceHookForTesting([this](const std::string& verb, const std::string& target) {
      requests.push_back(verb + " " + target);
    });
    auto& t = MakeTracker();
    t.SetDelegate(&delegate);
    t.SetDirectory(cloud);
    t.SetTransferLog(logFile);
    NSPrefs().SetString(kPreferenceKeyHistoryLog, logFile);
    settings.includePatterns = {"/cloud/"};
    Apply();
  }
  void TearDown() override {
    // A popover still shown goes with its window, as when the face ends: a
    // window left behind would call back into a deleted controller.
    if (controller && controller->popover())
      delete controller->popover();
    else
      delete controller;
    SetWorkspaceHookForTesting(nullptr);
    ::unsetenv("XDG_CACHE_HOME");
    TrackerFixture::TearDown();
  }
  TTransferListViewController& Open(TAppCommands* commands = nullptr) {
    controller = new TTransferListViewController(*tracker, commands, [this](bool on) { highlights.push_back(on); });
    controller->resize(PopoverWindow::kWidth, TTransferListViewController::kPopoverHeight);
    controller->show();
    return *controller;
  }
  // Files that start uploading.
  std::vector<std::string> Uploading(const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const auto& name : names) paths.push_back(Item(name, false, 1000));
    for (const auto& path : paths) tracker->QueueFile(path);
    Pass();
    return paths;
  }
  void Finish(const std::string& path) {
    MarkUploaded(path);
    tracker->QueueFile(path);
    Pass();
  }
  static void PointerEnters(QWidget& w) {
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QApplication::sendEvent(&w, &enter);
  }
  static void PointerLeaves(QWidget& w) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&w, &leave);
  }
  QString Status() const { return controller->findChild<QLabel*>(QStringLiteral("statusField"))->text(); }

  ManualDelayClock delays;
  QPointer<TTransferListViewController> controller;
  std::vector<bool> highlights;
  std::vector<std::string> requests;
};

TEST_F(PopoverTest, TheTabsFollowTheTransfersAndTheHeaderTellsTheTruth) {
  auto& c = Open();
  // Nothing yet: the switch hidden, the history shown, transfers disabled.
  EXPECT_EQ(Status(), "No files are being transferred.");
  EXPECT_FALSE(c.tabButton()->isVisible());
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  EXPECT_FALSE(c.tabButton()->IsSegmentEnabled(0));
  EXPECT_EQ(c.findChild<QLabel*>(QStringLiteral("recentEmptyField"))->text(), "No recent transfers");

  const auto one = Uploading({"solo.txt"});
  c.updateStatus();
  EXPECT_EQ(Status(), "1 file is being transferred...");
  EXPECT_TRUE(c.tabButton()->isVisible());
  EXPECT_TRUE(c.tabButton()->IsSegmentEnabled(0));
  EXPECT_EQ(c.tabButton()->SelectedSegment(), 0);
  EXPECT_EQ(c.selectedTabIdentifier(), "transfers");

  // The user looks at the history meanwhile: it stays chosen while
  // transfers go on, and is read again half a second after each change.
  QTest::mouseClick(c.tabButton()->Segment(1), Qt::LeftButton);
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  const auto more = Uploading({"b.txt", "c.txt", "d.txt"});
  Finish(one[0]);
  c.updateStatus();
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  EXPECT_EQ(Status().toStdString(), StatusLineText(*tracker, std::nullopt, CurrentAbsoluteTime()));
  EXPECT_EQ(Status(), "3 files are being transferred (25%)...");
  EXPECT_EQ(c.recentModel()->rowCount(), 0);
  delays.Advance(499);
  EXPECT_EQ(c.recentModel()->rowCount(), 0);
  delays.Advance(1);
  EXPECT_EQ(c.recentModel()->rowCount(), 1);

  // The batch ends: the history again, the transfers segment disabled once
  // the tabs no longer hold still for the user's pick (the pointer left).
  for (const auto& path : more) Finish(path);
  c.updateStatus();
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  EXPECT_TRUE(c.tabButton()->IsSegmentEnabled(0));
  PointerLeaves(c);
  EXPECT_FALSE(c.tabButton()->IsSegmentEnabled(0));
  EXPECT_EQ(c.transferModel()->rowCount(), 0);
  delays.Advance(500);
  EXPECT_EQ(c.recentModel()->rowCount(), 4);
  Keep(c, "popover-history");

  // A scan pauses the tracker: the popover still opens and tells the same.
  tracker->Pause();
  TTransferListViewController during(*tracker, nullptr, nullptr);
  EXPECT_EQ(during.findChild<QLabel*>(QStringLiteral("statusField"))->text(), Status());
  EXPECT_EQ(during.selectedTabIdentifier(), "history");
  tracker->Resume();
}

// A tab or row that moves under the pointer takes the click meant for
// what was there: while the pointer is over the popover the tab row keeps
// its place and choice, and catches up when the pointer leaves.
TEST_F(PopoverTest, TheTabsHoldStillUnderThePointerAndCatchUpWhenItLeaves) {
  auto& c = Open();
  PointerEnters(c);
  const auto paths = Uploading({"a.txt"});
  c.updateStatus();
  EXPECT_EQ(Status(), "1 file is being transferred...") << "the status line is never held";
  EXPECT_FALSE(c.tabButton()->isVisible());
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  PointerLeaves(c);
  EXPECT_TRUE(c.tabButton()->isVisible());
  EXPECT_EQ(c.selectedTabIdentifier(), "transfers");

  PointerEnters(c);
  Finish(paths[0]);
  c.updateStatus();
  EXPECT_EQ(c.selectedTabIdentifier(), "transfers");
  EXPECT_TRUE(c.tabButton()->IsSegmentEnabled(0));
  PointerLeaves(c);
  EXPECT_EQ(c.selectedTabIdentifier(), "history");
  EXPECT_FALSE(c.tabButton()->IsSegmentEnabled(0));
}

// Run alone too (a process of its own, see CMakeLists): which window asks
// the icon theme first must not decide whether the footer has icons.
TEST_F(PopoverTest, FooterIconsDoNotDependOnWhatOpenedFirst) {
  if (!QDir(QStringLiteral("/usr/share/icons/Adwaita")).exists()) GTEST_SKIP() << "no full icon theme installed";
  {
    QFileDialog panel(nullptr, QStringLiteral("Choose a folder"));
    panel.setOption(QFileDialog::DontUseNativeDialog);
    panel.setFileMode(QFileDialog::Directory);
    panel.show();
    QApplication::processEvents();
    panel.close();
  }
  auto& c = Open();
  for (const char* name : {"openICloudDrive", "rescan", "logMenu", "helpMenu", "settingsMenu"}) {
    auto* button = c.findChild<QToolButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly) << name << " shows " << button->text().toStdString();
  }
}

TEST_F(PopoverTest, RowsAreSortedByNameAndReadOnlyWhenOnScreen) {
  auto& c = Open();
  const auto paths = Uploading({"b/Zeta.txt", "a/alpha.TXT", "Alpha.pdf", "gone.txt"});
  Item("Mid.key/Index.zip", false, 3000);
  Item("Mid.key/Data/tree.bin", false, 2000);
  tracker->QueueFile(cloud + "/Mid.key");
  Pass();
  ::unlink(paths[3].c_str());
  c.updateStatus();
  std::vector<QString> names, seconds;
  for (int row = 0; row < c.transferModel()->rowCount(); ++row) {
    names.push_back(c.transferModel()->index(row).data().toString());
    seconds.push_back(c.transferModel()->index(row).data(TransferListModel::SecondaryRole).toString());
  }
  // "alpha.TXT" and "Alpha.pdf" are equal names and keep the tracker's order.
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[0].toLower().left(5), "alpha");
  EXPECT_EQ(names[1].toLower().left(5), "alpha");
  EXPECT_EQ(names[2], "gone.txt");
  EXPECT_EQ(seconds[2], "") << "a file that has gone has no size";
  EXPECT_EQ(names[3], "Mid.key");
  EXPECT_EQ(seconds[3], "5 kB") << "a package counts its whole tree";
  EXPECT_EQ(names[4], "Zeta.txt");
  Keep(c, "popover-transfers");

  // A thousand more: only the rows on screen are ever read.
  std::vector<std::string> many;
  for (int i = 0; i < 1000; ++i) many.push_back(dir / ("cloud/many/f" + std::to_string(i) + ".bin"));
  c.transferModel()->SetPaths(many);
  QApplication::processEvents();
  c.transferList()->viewport()->repaint();
  EXPECT_GT(c.transferModel()->RowsRead(), 0);
  EXPECT_LT(c.transferModel()->RowsRead(), 12);
}

TEST_F(PopoverTest, AMissingFileAndANameThatIsNotUtf8) {
  auto& c = Open();
  const std::string odd = Item(std::string("caf\xe9-menu.txt"), false, 10);
  tracker->QueueFile(odd);
  Pass();
  c.updateStatus();
  ASSERT_EQ(c.transferModel()->rowCount(), 1);
  const QModelIndex row = c.transferModel()->index(0);
  EXPECT_EQ(row.data().toString(), QStringLiteral("caf\uFFFD-menu.txt"));
  EXPECT_EQ(row.data(TransferListModel::SecondaryRole).toString(), "10 B");
  // A click reveals the real bytes and closes without selecting the row.
  const QRect rect = c.transferList()->visualRect(row);
  QTest::mouseClick(c.transferList()->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(requests, std::vector<std::string>{"reveal " + odd});
  EXPECT_FALSE(c.transferList()->selectionModel()->hasSelection());

  // Gone: the hover buttons only beep.
  ::unlink(odd.c_str());
  c.updateStatus();
  EXPECT_FALSE(c.transferModel()->index(0).data(TransferListModel::ExistsRole).toBool());
  EXPECT_EQ(c.transferModel()->index(0).data(TransferListModel::SecondaryRole).toString(), "");
  c.transferList()->SetButtonsHidden(0, false);
  requests.clear();
  c.transferList()->RemoveButton()->click();
  c.transferList()->SetButtonsHidden(0, false);
  c.transferList()->RevealButton()->click();
  EXPECT_EQ(requests, (std::vector<std::string>{"beep ", "beep "}));
  EXPECT_EQ(tracker->Snapshot().inProgress, 1);
}

TEST_F(PopoverTest, HoverButtonsWaitForThePointerAndHideWhileScrolling) {
  auto& c = Open();
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back("file" + std::to_string(10 + i) + ".txt");
  const auto paths = Uploading(names);
  Finish(paths[1]);  // complete, still listed in the batch
  c.updateStatus();
  TransferListView& list = *c.transferList();
  QApplication::processEvents();
  const QPoint first = list.visualRect(c.transferModel()->index(0)).center();
  QTest::mouseMove(list.viewport(), first);
  EXPECT_EQ(list.ButtonsRow(), -1);
  delays.Advance(TransferListView::kHoverDelay - 1);
  EXPECT_EQ(list.ButtonsRow(), -1);
  delays.Advance(1);
  EXPECT_EQ(list.ButtonsRow(), 0);
  EXPECT_TRUE(list.RemoveButton()->isVisible());
  EXPECT_TRUE(list.RevealButton()->isVisible());
  // The finished transfer offers reveal only.
  QTest::mouseMove(list.viewport(), list.visualRect(c.transferModel()->index(1)).center());
  EXPECT_EQ(list.ButtonsRow(), -1) << "leaving a row hides its buttons at once";
  delays.Advance(TransferListView::kHoverDelay);
  EXPECT_EQ(list.ButtonsRow(), 1);
  EXPECT_FALSE(list.RemoveButton()->isVisible());
  EXPECT_TRUE(list.RevealButton()->isVisible());

  // Scrolling hides them until 0.15 s after the last scroll.
  list.verticalScrollBar()->setValue(10);
  EXPECT_EQ(list.ButtonsRow(), -1);
  EXPECT_TRUE(list.PostedScrollingChanges());
  delays.Advance(100);
  list.verticalScrollBar()->setValue(20);
  delays.Advance(100);
  EXPECT_EQ(list.ButtonsRow(), -1);
  delays.Advance(50);
  EXPECT_FALSE(list.PostedScrollingChanges());
  EXPECT_EQ(list.ButtonsRow(), list.RowUnderPointer());
  EXPECT_GE(list.ButtonsRow(), 0);

  // Remove stops the tracking of that file.
  const int row = 2;
  const std::string path = c.transferModel()->PathAt(row);
  list.SetButtonsHidden(row, false);
  ASSERT_TRUE(list.RemoveButton()->isVisible());
  list.RemoveButton()->click();
  const auto left = tracker->GetTransfers();
  EXPECT_EQ(std::count(left.begin(), left.end(), path), 0);
}

// What a tooltip holding `tip` draws, as text.
QString DrawnText(const QString& tip) {
  QTextDocument drawn;
  if (Qt::mightBeRichText(tip))
    drawn.setHtml(tip);
  else
    drawn.setPlainText(tip);
  return drawn.toPlainText();
}

TEST_F(PopoverTest, AWatchedFolderNoPatternMatchesIsSaidWithAButtonThatTracksIt) {
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  NSPrefs().SetStringArray(kPreferenceKeyIncludePatterns, {kDefaultIncludePatterns[0]});
  auto& c = Open();
  auto* notice = c.findChild<QWidget*>(QStringLiteral("untrackedNotice"));
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(c.findChild<QLabel*>(QStringLiteral("untrackedNoticeText"))->text().toStdString(),
            "Nothing in " + cloud + " is tracked: no include pattern matches it.");
  Keep(c, "popover-untracked");
  QTest::mouseClick(c.findChild<QPushButton*>(QStringLiteral("trackFolderButton")), Qt::LeftButton);
  EXPECT_FALSE(notice->isVisible());
  EXPECT_TRUE(FolderIsIncluded(NSPrefs(), cloud));
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns)->size(), 2u);
}

TEST_F(PopoverTest, NoFolderChosenYetIsSaidWithAButtonToChooseOne) {
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, "");  // "Choose Later" at the first launch
  auto& c = Open();
  EXPECT_TRUE(c.findChild<QWidget*>(QStringLiteral("untrackedNotice"))->isVisible());
  EXPECT_EQ(c.findChild<QLabel*>(QStringLiteral("untrackedNoticeText"))->text().toStdString(),
            "No folder is watched: choose one in Preferences.");
  EXPECT_EQ(c.findChild<QPushButton*>(QStringLiteral("trackFolderButton"))->text().toStdString(), "Choose\u2026");
  Keep(c, "popover-no-folder");
}

TEST_F(PopoverTest, WhyTransfersWaitIsSaidInTheNoticesPlaceWithNoButton) {
  scripted = std::make_shared<test::ScriptedItemSource>();
  auto& t = MakeTracker();
  t.SetDirectory(cloud);
  Apply();
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  IncludeChosenFolder(NSPrefs(), cloud);
  const std::string file = Item("stuck.bin");
  scripted->Set(file, {.uploading = true, .percent = 29.0});
  scripted->SetWaitingFor("Waiting: Syncthing is not running.");
  // Beside it, one the client gave up on: its reason, in the error colour.
  const std::string failed = Item("report.txt");
  t.SetExistingTransfers({file, failed});
  scripted->Set(failed, {.error = true, .reason = "insufficient space on the server"});
  Pass();
  ClientCommands client;
  client.held = true;
  auto& c = Open(&client);
  c.updateStatus();
  EXPECT_EQ(c.transferModel()->data(c.transferModel()->index(0), TransferListModel::SecondaryRole).toString(),
            QStringLiteral("Failed: insufficient space on the server"));
  EXPECT_TRUE(c.transferModel()->data(c.transferModel()->index(0), TransferListModel::FailedRole).toBool());
  EXPECT_TRUE(c.findChild<QWidget*>(QStringLiteral("untrackedNotice"))->isVisible());
  EXPECT_EQ(c.findChild<QLabel*>(QStringLiteral("untrackedNoticeText"))->text().toStdString(),
            "Waiting: Syncthing is not running.");
  EXPECT_FALSE(c.findChild<QPushButton*>(QStringLiteral("trackFolderButton"))->isVisible());
  // The row says so beside its last percentage.
  EXPECT_EQ(c.transferModel()->data(c.transferModel()->index(1), TransferListModel::SecondaryRole).toString(),
            QStringLiteral("1 B \u00b7 29% \u00b7 waiting"));
  Keep(c, "popover-waiting");
  // Back: whether it is safe to shut down takes the notice's place, and
  // goes where the user switched the hold off.
  scripted->SetWaitingFor(std::nullopt);
  c.updateStatus();
  EXPECT_EQ(c.findChild<QLabel*>(QStringLiteral("untrackedNoticeText"))->text().toStdString(),
            "1 file is still being uploaded. Shutdown is held until it is.");
  Keep(c, "popover-shutdown-held");
  client.held = std::nullopt;
  c.updateStatus();
  EXPECT_FALSE(c.findChild<QWidget*>(QStringLiteral("untrackedNotice"))->isVisible());
}

TEST_F(PopoverTest, ADownloadsRowShowsItsItemNotThePlaceholder) {
  const std::string placeholder = dir.Write("cloud/.Movie night.mp4.icloud", std::string(134, 'x'));
  const std::string upload = Item("notes.txt", false, 2000);
  tracker->SetExistingTransfers({placeholder, upload});
  auto& c = Open();
  c.updateStatus();
  TransferListModel& model = *c.transferModel();
  ASSERT_EQ(model.rowCount(), 2);
  const int row = model.PathAt(0) == placeholder ? 0 : 1;
  EXPECT_EQ(model.data(model.index(row), Qt::DisplayRole).toString(), QStringLiteral("Movie night.mp4"));
  EXPECT_EQ(model.data(model.index(row), TransferListModel::SecondaryRole).toString(), QStringLiteral("Downloading..."));
  // The item's kind of icon, as the upload beside it gets its own.
  const QIcon icon = model.data(model.index(row), Qt::DecorationRole).value<QIcon>();
  EXPECT_EQ(icon.name(), FileIcon(cloud + "/Movie night.mp4").name());
  EXPECT_EQ(model.data(model.index(1 - row), Qt::DisplayRole).toString(), QStringLiteral("notes.txt"));
  EXPECT_FALSE(model.data(model.index(1 - row), TransferListModel::SecondaryRole).toString().isEmpty());
}

// Rows of the same name in different folders are told apart by the folder
// below the watched one, and show how far they have come where the sync
// state says.
TEST_F(PopoverTest, RowsNameTheirFolderAndThePercentageTheSourceKnows) {
  const std::string a = Item("Photos/file0.dat", false, 2000);
  const std::string b = Item("Music/file0.dat", false, 2000);
  ASSERT_EQ(::setxattr(a.c_str(), "user.ubiquity.uploading", "1", 1, 0), 0);
  ASSERT_EQ(::setxattr(a.c_str(), "user.ubiquity.percent-uploaded", "30", 2, 0), 0);
  tracker->SetExistingTransfers({a, b});
  auto& c = Open();
  c.updateStatus();
  TransferListModel& model = *c.transferModel();
  ASSERT_EQ(model.rowCount(), 2);
  QStringList lines;
  for (int row = 0; row < 2; ++row) lines << model.data(model.index(row), TransferListModel::SecondaryRole).toString();
  lines.sort();
  EXPECT_EQ(lines, (QStringList{QStringLiteral("2 kB \u00b7 30% \u00b7 in Photos"), QStringLiteral("2 kB \u00b7 in Music")}))
      << lines.join(QLatin1Char('|')).toStdString();
}

TEST_F(PopoverTest, CheckForUpdatesIsOfferedOnlyWithAPortalLevel) {
  auto& c = Open();
  QMenu* gear = c.findChild<QToolButton*>(QStringLiteral("settingsMenu"))->menu();
  ASSERT_NE(gear, nullptr);
  auto* updates = gear->findChild<QAction*>(QStringLiteral("checkForUpdates"));
  ASSERT_NE(updates, nullptr);
  emit gear->aboutToShow();
  EXPECT_FALSE(updates->isVisible());
  NSPrefs().SetInteger("portalLevel", 1);
  emit gear->aboutToShow();
  EXPECT_TRUE(updates->isVisible());
}

TEST_F(PopoverTest, ARowsTooltipShowsANameThatLooksLikeMarkupAsItIs) {
  auto& c = Open();
  const auto paths = Uploading({"<h1>big<img src=x>.txt", "a & b.txt"});
  c.updateStatus();
  for (int row = 0; row < 2; ++row) {
    const QString tip = c.transferModel()->data(c.transferModel()->index(row), Qt::ToolTipRole).toString();
    const QString shown = DrawnText(tip);
    EXPECT_TRUE(shown == QString::fromStdString(paths[0]) || shown == QString::fromStdString(paths[1])) << shown.toStdString();
  }
}

TEST_F(PopoverTest, DeleteAsksWithTheCountAndIgnoresEverySelectedRow) {
  auto& c = Open();
  const auto paths = Uploading({"a.txt", "b.txt", "c.txt", "d.txt"});
  c.updateStatus();
  TransferListView& list = *c.transferList();
  list.setFocus();
  QTest::keyClick(&list, Qt::Key_Delete);
  EXPECT_EQ(requests, std::vector<std::string>{"beep "}) << "nothing selected";

  list.selectionModel()->select(QItemSelection(c.transferModel()->index(0), c.transferModel()->index(2)),
                                QItemSelectionModel::Select);
  QString asked;
  AnswerAlert(QStringLiteral("Cancel"), &asked);
  QTest::keyClick(&list, Qt::Key_Delete);
  EXPECT_EQ(asked, "Are you sure you want to ignore 3 transfers?");
  EXPECT_EQ(tracker->Snapshot().inProgress, 4);

  AnswerAlert(QStringLiteral("Ignore"), &asked);
  QTest::keyClick(&list, Qt::Key_Backspace);
  EXPECT_EQ(tracker->GetTransfers(), std::vector<std::string>{paths[3]});
  EXPECT_EQ(c.transferModel()->rowCount(), tracker->Snapshot().total);
}

TEST_F(PopoverTest, ClearingTheHistoryEmptiesTheListTheFileAndTheLogForGood) {
  auto& c = Open();
  const auto first = Uploading({"first.txt", "second.txt"});
  for (const auto& path : first) Finish(path);
  c.updateStatus();
  delays.Advance(500);
  ASSERT_EQ(c.recentModel()->rowCount(), 2);
  QString asked;
  AnswerAlert(QStringLiteral("Cancel"), &asked);
  c.clearLog();
  EXPECT_EQ(asked, "Are you sure you want to clear the history log?");
  EXPECT_EQ(c.recentModel()->rowCount(), 2);
  AnswerAlert(QStringLiteral("Clear"), nullptr);
  c.clearLog();
  EXPECT_EQ(c.recentModel()->rowCount(), 0);
  EXPECT_TRUE(LogLines().empty());
  EXPECT_EQ(*ReadPropertyListFile(historyFile).value.AsArray(), PlistValue::Array{});
  // The next batch brings only itself.
  const auto next = Uploading({"third.txt"});
  Finish(next[0]);
  c.reloadRecents();
  EXPECT_EQ(c.recentModel()->Paths(), next);
  EXPECT_EQ(*ReadPropertyListFile(historyFile).value.AsArray(), PlistValue::Array{PlistValue(next[0])});
}

TEST_F(PopoverTest, DiskUsageOfAFolderWhoseNameWouldRunCommands) {
  const std::string marker = dir / "ran";
  const std::string folder = dir.MakeFolder("q\"uote $(touch " + marker + ") `touch " + marker + "`");
  dir.Write(folder.substr(dir.path().size() + 1) + "/data.bin", std::string(50000, 'x'));
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, folder);
  NSPrefs().Remove(kPreferenceKeyICloudDiskUsage);
  auto& c = Open();
  auto* line = c.findChild<QLabel*>(QStringLiteral("diskStatusField"));
  EXPECT_EQ(line->text(), "Calculating disk usage...");
  ASSERT_TRUE(SpinUntil([line] { return line->text().endsWith(QLatin1String(" on disk")); }));
  EXPECT_FALSE(doesFileExist(marker)) << "a command in the folder's name ran";
  const auto stored = NSPrefs().GetString(kPreferenceKeyICloudDiskUsage);
  ASSERT_TRUE(stored);
  EXPECT_EQ(line->text().toStdString(), *stored + " on disk");
  EXPECT_NE(*stored, "0");
}

TEST_F(PopoverTest, ThePopoverHighlightsTheIconOpensOnceAndIsReleasedAfterClosing) {
  auto* c = new TTransferListViewController(*tracker, nullptr, [this](bool on) { highlights.push_back(on); });
  controller = c;
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  ASSERT_TRUE(c->isPopoverShown());
  EXPECT_EQ(highlights, std::vector<bool>{true});
  EXPECT_EQ(c->popover()->height(), TTransferListViewController::kPopoverHeight + 2);
  EXPECT_EQ(TTransferListViewController::sharedController(), c);
  testing::internal::CaptureStdout();
  SetVerbose(true);
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  SetVerbose(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "popover is already shown.\n");
  Keep(*c->popover(), "popover-window");
  c->closePopover();
  EXPECT_EQ(highlights, (std::vector<bool>{true, false}));
  EXPECT_TRUE(c->isPopoverShown()) << "released a moment later";
  delays.Advance(100);
  EXPECT_FALSE(c->isPopoverShown());
  ASSERT_TRUE(SpinUntil([this] { return controller.isNull(); }));
}

// A tiny HTTP server: one answer per connection.
class HelpServer {
public:
  QByteArray status = "200 OK";
  QByteArray body;
  bool silent = false;
  int requests = 0;
  HelpServer() {
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      QTcpSocket* socket = server.nextPendingConnection();
      QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
        socket->readAll();
        ++requests;
        if (silent) return;
        socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
      });
    });
  }
  QString Address() const { return QStringLiteral("http://127.0.0.1:%1/support.php?Vantorel").arg(server.serverPort()); }
  QTcpServer server;
};

QStringList MenuTitles(QMenu* menu) {
  QStringList titles;
  for (QAction* action : menu->actions()) titles << action->text();
  return titles;
}

TEST_F(PopoverTest, TheHelpMenuLoadsItsArticlesAtEachOpening) {
  auto& c = Open();
  HelpServer server;
  c.setSupportAddress(server.Address());
  QMenu* menu = c.helpMenu();
  server.body = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array>
    <dict><key>title</key><string>Getting started</string><key>excerpt</key><string>First steps with the tray icon and the popover.</string><key>link</key><string>https://vantorel.example.com/a</string></dict>
    <dict><key>title</key><string>Filters</string><key>excerpt</key><string>Which files are tracked.</string><key>link</key><string>https://vantorel.example.com/b</string></dict>
    <dict><key>title</key><string>History</string><key>excerpt</key><string>The log and the list.</string><key>link</key><string>https://vantorel.example.com/c</string></dict>
  </array></plist>)";
  testing::internal::CaptureStdout();
  SetVerbose(true);  // "closed menu" is for --verbose
  menu->popup(QPoint(10, 10));
  EXPECT_EQ(MenuTitles(menu), QStringList{"Downloading articles..."});
  ASSERT_TRUE(SpinUntil([menu] { return menu->actions().size() == 3; }));
  EXPECT_EQ(MenuTitles(menu), (QStringList{"article", "article", "article"}));
  QStringList shown;
  for (QAction* action : menu->actions())
    shown << static_cast<QWidgetAction*>(action)->defaultWidget()->findChild<QLabel*>("titleField")->text();
  EXPECT_EQ(shown, (QStringList{"Getting started", "Filters", "History"}));
  Keep(*menu, "help-menu");
  auto* read = static_cast<QWidgetAction*>(menu->actions()[1])->defaultWidget()->findChild<QPushButton*>("openLink");
  read->click();
  EXPECT_EQ(requests, std::vector<std::string>{"open https://vantorel.example.com/b"});
  EXPECT_FALSE(menu->isVisible());
  SetVerbose(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "closed menu\n");

  // A server error: the error row, not a loading row spinning for ever.
  server.status = "500 Internal Server Error";
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(SpinUntil([menu] { return MenuTitles(menu) == QStringList{"Error downloading articles"}; }));
  EXPECT_EQ(server.requests, 2);
  menu->close();
  // An empty body: nothing to show, the loading row stays.
  server.status = "200 OK";
  const QByteArray list = server.body;
  server.body.clear();
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(SpinUntil([&server] { return server.requests == 3; }));
  SpinUntil([] { return false; }, 200);
  EXPECT_EQ(MenuTitles(menu), QStringList{"Downloading articles..."});
  menu->close();

  // The list cannot be kept: the error row.
  server.body = list;
  ::setenv("XDG_CACHE_HOME", dir.Write("cache-is-a-file", "x").c_str(), 1);
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(SpinUntil([menu] { return MenuTitles(menu) == QStringList{"Error downloading articles"}; }));
  menu->close();

  // Offline (nothing listens there): the error row, within moments.
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    c.setSupportAddress(QStringLiteral("http://127.0.0.1:%1/support.php").arg(closed.serverPort()));
  }
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(SpinUntil([menu] { return MenuTitles(menu) == QStringList{"Error downloading articles"}; }));
  menu->close();
  c.setSupportAddress(server.Address());

  // Closed while downloading: nothing arrives afterwards.
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  server.silent = true;
  menu->popup(QPoint(10, 10));
  ASSERT_TRUE(SpinUntil([&server] { return server.requests == 5; }));
  menu->close();
  menu->clear();
  server.silent = false;
  SpinUntil([] { return false; }, 300);
  EXPECT_TRUE(menu->actions().isEmpty());
}

TEST_F(PopoverTest, CommandsReachTheDesktopAndTheWatchedFolder) {
  NSPrefs().SetString(kPreferenceKeyICloudDriveFolder, cloud);
  dir.Write("vantorel_log.txt", "[2026-12-09 06:00:00] a.txt\n");
  auto& c = Open();
  c.openICloudDrive();
  c.openLog();
  c.revealLogInFinder();
  c.openICloudOnline();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], "open " + cloud) << "the stored folder, not a fixed path";
  EXPECT_EQ(requests[1], "open " + logFile);
  EXPECT_EQ(requests[2], "reveal " + logFile);
  EXPECT_EQ(requests[3].rfind("open http", 0), 0u);
}

// Handing a log that is not there to the desktop fails without a word to
// the user: the popover says why instead, for both ways of showing it.
TEST_F(PopoverTest, OpenLogWithNoLogYetSaysWhyInsteadOfOpeningNothing) {
  auto& c = Open();
  for (const bool logging : {true, false}) {
    NSPrefs().SetBool(kPreferenceKeyEnableLogging, logging);
    QString asked;
    AnswerAlert(QStringLiteral("OK"), &asked);
    c.openLog();
    EXPECT_EQ(asked, QStringLiteral("There is no transfer log to open."));
    AnswerAlert(QStringLiteral("OK"), &asked);
    asked.clear();
    c.revealLogInFinder();
    EXPECT_EQ(asked, QStringLiteral("There is no transfer log to open."));
  }
  EXPECT_TRUE(requests.empty()) << requests.front();
}

// A click on a recent transfer shows its file in the file manager and the
// popover steps aside, as for a transfer in progress.
TEST_F(PopoverTest, AClickOnARecentRowRevealsItsFile) {
  const auto paths = Uploading({"minutes.txt"});
  Finish(paths[0]);
  auto* c = new TTransferListViewController(*tracker, nullptr, [this](bool on) { highlights.push_back(on); });
  controller = c;
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  ASSERT_EQ(c->selectedTabIdentifier(), "history");
  TransferListView* list = c->recentList();
  ASSERT_EQ(list->model()->rowCount(), 1);
  QApplication::processEvents();
  const QRect row = list->visualRect(list->model()->index(0, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
  EXPECT_EQ(requests, std::vector<std::string>{"reveal " + paths[0]});
  EXPECT_EQ(highlights, (std::vector<bool>{true, false})) << "the popover closed";
}

// The help menu is a popup over the popover: a click outside it closes the
// menu only, and the popover goes back to closing on a click outside it.
TEST_F(PopoverTest, AClickElsewhereWhileTheHelpMenuIsOpenClosesOnlyTheMenu) {
  auto* c = new TTransferListViewController(*tracker, nullptr, [this](bool on) { highlights.push_back(on); });
  controller = c;
  HelpServer server;
  server.silent = true;  // still loading when the user clicks away
  c->setSupportAddress(server.Address());
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  QMenu* menu = c->helpMenu();
  menu->popup(c->mapToGlobal(QPoint(20, 200)));
  ASSERT_TRUE(SpinUntil([menu] { return menu->isVisible(); }));
  EXPECT_FALSE(c->popover()->IsTransient()) << "the popover holds while its menu is open";
  QWidget* header = c->findChild<QLabel*>(QStringLiteral("statusField"));
  QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(SpinUntil([menu] { return !menu->isVisible(); }));
  EXPECT_TRUE(c->isPopoverShown());
  EXPECT_TRUE(c->popover()->isVisible());
  EXPECT_EQ(highlights, std::vector<bool>{true}) << "still open and highlighted";
  EXPECT_TRUE(SpinUntil([c] { return c->popover()->IsTransient(); }, 500));
  EXPECT_TRUE(requests.empty());
}

// A dark appearance (stored, or the desktop's) darkens the popover, its
// menus and every window, with secondary text still readable; light again
// gives the platform's palette back. Run at 2x too (see CMakeLists).
TEST_F(PopoverTest, TheDarkAppearanceDarkensThePopoverAndTheWindows) {
  const QPalette platform = QApplication::palette();
  ContrastStyle::Install();  // as the application does
  NSPrefs().SetString("AppleInterfaceStyle", "Dark");
  auto* appearance = new Appearance(nullptr);
  EXPECT_TRUE(Appearance::CurrentIsDark());
  Uploading({"Photos/holiday.jpg", "notes.txt"});
  auto& c = Open();
  c.updateStatus();
  const QPalette& shown = c.palette();
  EXPECT_LT(shown.color(QPalette::Window).lightness(), 80);
  EXPECT_GT(shown.color(QPalette::WindowText).lightness(), 200);
  // The rows' second line against the list's background.
  EXPECT_GT(shown.color(QPalette::PlaceholderText).lightness() - shown.color(QPalette::Base).lightness(), 100);
  EXPECT_LT(c.findChild<QMenu*>()->palette().color(QPalette::Window).lightness(), 80) << "its menus too";
  const QString scale = QString::number(c.devicePixelRatioF());
  Keep(c, ("popover-dark@" + scale + "x").toUtf8().constData());
  PreferencesWindow* preferences = PreferencesWindow::Open(nullptr);
  EXPECT_LT(preferences->palette().color(QPalette::Window).lightness(), 80);
  Keep(*preferences, ("preferences-dark@" + scale + "x").toUtf8().constData());
  preferences->close();
  AboutWindow* about = AboutWindow::Open();
  EXPECT_LT(about->palette().color(QPalette::Window).lightness(), 80);
  Keep(*about, ("about-dark@" + scale + "x").toUtf8().constData());
  about->close();
  {
    WelcomeWindow welcome;
    welcome.show();
    EXPECT_LT(welcome.palette().color(QPalette::Window).lightness(), 80);
    EXPECT_GT(welcome.palette().color(QPalette::WindowText).lightness(), 200);
    Keep(welcome, ("welcome-dark@" + scale + "x").toUtf8().constData());
  }

  // Light again (this store tells no observers: a new reading): the
  // platform's palette is back.
  delete appearance;
  NSPrefs().SetString("AppleInterfaceStyle", "Light");
  Appearance light(nullptr);
  EXPECT_FALSE(Appearance::CurrentIsDark());
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), platform.color(QPalette::Window));
}

// Without a mouse: the list has the keyboard when the popover opens, Down
// and Return reveal a file; Tab reaches the footer, where Return opens the
// settings menu and its first item (Preferences…) is taken from the keyboard.
TEST_F(PopoverTest, TheKeyboardAloneRevealsAFileAndReachesTheSettingsMenu) {
  const auto paths = Uploading({"keys.txt"});
  auto* c = new TTransferListViewController(*tracker, nullptr, [this](bool on) { highlights.push_back(on); });
  controller = c;
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  ASSERT_TRUE(SpinUntil([c] { return c->transferList()->hasFocus(); })) << "the list has the keyboard";
  QTest::keyClick(c->transferList(), Qt::Key_Down);
  QTest::keyClick(c->transferList(), Qt::Key_Return);
  EXPECT_EQ(requests, std::vector<std::string>{"reveal " + paths[0]});
  delays.Advance(100);  // closed by the reveal, and released a moment later
  ASSERT_TRUE(SpinUntil([this] { return controller.isNull(); }));

  c = new TTransferListViewController(*tracker, nullptr, [this](bool on) { highlights.push_back(on); });
  controller = c;
  c->showRelativeToRect(QRect(200, 0, 24, 24), PopoverWindow::Kind::Popup);
  ASSERT_TRUE(SpinUntil([c] { return c->transferList()->hasFocus(); }));
  auto* gear = c->findChild<QToolButton*>(QStringLiteral("settingsMenu"));
  QStringList visited;
  for (int tabs = 0; tabs < 12 && QApplication::focusWidget() != gear; ++tabs) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  ASSERT_EQ(QApplication::focusWidget(), gear) << visited.join(QLatin1Char(' ')).toStdString();
  EXPECT_EQ(gear->accessibleName(), QStringLiteral("Settings"));
  Keep(*c->popover(), "popover-keyboard-focus");
  QString opened;
  QTimer::singleShot(100, [&opened] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    opened = menu->actions().front()->text();
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QTest::keyClick(gear, Qt::Key_Return);  // its menu runs until an item is chosen
  EXPECT_EQ(opened, QStringLiteral("Preferences…"));
  EXPECT_TRUE(SpinUntil([c] { return !c->popover() || !c->popover()->isVisible(); }))
      << "Preferences… closes the popover first";
}

}  // namespace
}  // namespace vantorel
