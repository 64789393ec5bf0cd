// The windows, driven as a user would: found by object name, clicked, typed
// at. Each is also kept as a picture (artefacts/) to be looked at.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QListView>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QPointer>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <optional>

#include "desktop/status/PanelContrast.h"
#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/FolderPanel.h"
#include "desktop/windows/PreferencesWindow.h"
#include "desktop/helpers/PauseSyncingAction.h"
#include "shell/AppCommands.h"
#include "desktop/helpers/QtMainLoop.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "desktop/windows/ScannerWindow.h"
#include "desktop/windows/WelcomeWindow.h"
#include "shell/RecordingFace.h"
#include "shell/Scanner.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "ClientCommands.h"
#include "KeyboardWalk.h"

namespace vantorel {
namespace {

void Keep(QWidget& window, const char* name) {
  QDir().mkpath(QStringLiteral("artefacts"));
  window.grab().save(QStringLiteral("artefacts/%1.png").arg(QLatin1String(name)));
}

// Runs `act` on the modal window once it is up.
void WhenShown(const std::function<void(QWidget&)>& act) {
  QTimer::singleShot(0, [act] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    act(*modal);
  });
}

TEST(WelcomeWindow, DoneTakesTheChosenRowReturnTakesDoneAndQuitQuits) {
  WelcomeWindow first;
  WhenShown([](QWidget& w) {
    Keep(w, "welcome");
    auto* everything = w.findChild<QRadioButton*>(QStringLiteral("trackingOptions0"));
    auto* cloudDrive = w.findChild<QRadioButton*>(QStringLiteral("trackingOptions1"));
    EXPECT_TRUE(cloudDrive->isChecked());  // iCloud Drive only, at first
    QTest::mouseClick(everything, Qt::LeftButton);
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("doneButton")), Qt::LeftButton);
  });
  const WelcomeChoice done = first.Run();
  EXPECT_EQ(done.action, WelcomeChoice::Action::Done);
  EXPECT_EQ(done.row, 0);

  WelcomeWindow second;
  WhenShown([](QWidget& w) { QTest::keyClick(&w, Qt::Key_Return); });  // Done is the default
  const WelcomeChoice byReturn = second.Run();
  EXPECT_EQ(byReturn.action, WelcomeChoice::Action::Done);
  EXPECT_EQ(byReturn.row, 1);

  // No client: the sentence naming the clients followed, and a row for a
  // folder of the user's own.
  WelcomeWindow another;
  WhenShown([](QWidget& w) {
    EXPECT_TRUE(w.findChild<QLabel*>(QStringLiteral("noClientText"))->isVisible());
    w.findChild<QRadioButton*>(QStringLiteral("anotherFolder"))->click();
    QTest::keyClick(&w, Qt::Key_Return);
  });
  EXPECT_EQ(another.Run().row, 2);

  WelcomeWindow third;
  WhenShown([](QWidget& w) { QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("quitButton")), Qt::LeftButton); });
  EXPECT_EQ(third.Run().action, WelcomeChoice::Action::Quit);

  WelcomeWindow fourth;
  WhenShown([](QWidget& w) { w.close(); });  // the close box: the launch goes on
  EXPECT_EQ(fourth.Run().action, WelcomeChoice::Action::Closed);
}

TEST(WelcomeWindow, TheKeyboardAloneReachesEveryControlAndPicksARow) {
  WelcomeWindow window;
  WhenShown([](QWidget& w) {
    const QList<QWidget*> stops = test::TabCycle(&w);
    test::ExpectEveryControlReached(&w, stops);
    test::ExpectReadingOrder(stops);
    // On the chosen row, the arrows move the choice; Return takes Done.
    auto* chosen = w.findChild<QRadioButton*>(QStringLiteral("trackingOptions1"));
    for (int i = 0; i < 10 && QApplication::focusWidget() != chosen; ++i)
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), chosen);
    QTest::keyClick(chosen, Qt::Key_Up);
    EXPECT_TRUE(w.findChild<QRadioButton*>(QStringLiteral("trackingOptions0"))->isChecked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  });
  const WelcomeChoice choice = window.Run();
  EXPECT_EQ(choice.action, WelcomeChoice::Action::Done);
  EXPECT_EQ(choice.row, 0);
}

TEST(WelcomeWindow, ASyncClientsFolderAppearsWhenRegisteredAndIsChosenUnlessTheUserChose) {
  // The client registers its folder a moment after the window opens.
  int asked = 0;
  const WelcomeFolderSource clients = [&asked] {
    return ++asked < 3 ? std::vector<WelcomeFolder>{}
                       : std::vector<WelcomeFolder>{{"Nextcloud: ~/Nextcloud", "/home/ann/Nextcloud"}};
  };
  WelcomeWindow first(clients);
  WhenShown([](QWidget& w) {
    QTRY_VERIFY_WITH_TIMEOUT(w.findChild<QRadioButton*>(QStringLiteral("clientFolder0")) != nullptr, 5000);
    auto* row = w.findChild<QRadioButton*>(QStringLiteral("clientFolder0"));
    EXPECT_EQ(row->text(), QStringLiteral("Nextcloud: ~/Nextcloud"));
    EXPECT_TRUE(row->isChecked());
    Keep(w, "welcome-client");
    QTest::keyClick(&w, Qt::Key_Return);
  });
  const WelcomeChoice chosen = first.Run();
  EXPECT_EQ(chosen.action, WelcomeChoice::Action::Done);
  EXPECT_EQ(chosen.folder, "/home/ann/Nextcloud");

  asked = 0;
  WelcomeWindow second(clients);
  WhenShown([](QWidget& w) {
    QTest::mouseClick(w.findChild<QRadioButton*>(QStringLiteral("trackingOptions0")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.findChild<QRadioButton*>(QStringLiteral("clientFolder0")) != nullptr, 5000);
    EXPECT_FALSE(w.findChild<QRadioButton*>(QStringLiteral("clientFolder0"))->isChecked());
    QTest::keyClick(&w, Qt::Key_Return);
  });
  const WelcomeChoice mine = second.Run();
  EXPECT_EQ(mine.row, 0);
  EXPECT_FALSE(mine.folder.has_value());
}

class NoDelegate : public TScannerDelegate {
  void scannerWillStart() override {}
  void scannerDidStop(const TScanner&, const std::vector<std::string>&, bool) override {}
};

TEST(ScannerWindow, ShowsThePathAndResultsAndItsCancelAndCloseBoxCancel) {
  NoDelegate delegate;
  test::RecordingFace face;
  test::CaptureDiagnostics diagnostics;
  auto scanner = MakeRef<TScanner>(&delegate, &face);
  auto* window = new ScannerWindow(*scanner);
  window->show();
  window->SetPath(QStringLiteral("~/Library/Mobile Documents/com~apple~CloudDocs/Projects/A rather long folder "
                                 "name/and deeper/still deeper/report.pdf"));
  auto* results = window->findChild<QLabel*>(QStringLiteral("resultsField"));
  auto* path = window->findChild<QLabel*>(QStringLiteral("pathField"));
  EXPECT_TRUE(results->isHidden());  // nothing found yet
  window->SetResults(QStringLiteral("Found 3 transfers."));
  EXPECT_FALSE(results->isHidden());
  EXPECT_EQ(results->text(), QStringLiteral("Found 3 transfers."));
  EXPECT_TRUE(path->text().contains(QChar(0x2026)));  // elided in the middle to fit
  EXPECT_TRUE(path->toolTip().contains(QStringLiteral("report.pdf")));
  // A path that looks like markup is shown, and its tooltip drawn, as it is.
  const QString markup = QStringLiteral("~/<h1>big</h1><img src=\"file:///etc/hosts\">.txt");
  window->SetPath(markup);
  EXPECT_EQ(path->textFormat(), Qt::PlainText);
  QTextDocument tip;
  tip.setHtml(path->toolTip());
  EXPECT_EQ(tip.toPlainText(), markup);
  Keep(*window, "scanner");
  // The keyboard: Cancel has the focus, and Return presses it.
  auto* cancel = window->findChild<QPushButton*>(QStringLiteral("cancelButton"));
  EXPECT_EQ(test::TabCycle(window), QList<QWidget*>{cancel});
  QTest::keyClick(cancel, Qt::Key_Return);
  EXPECT_TRUE(scanner->IsCancelled());
  EXPECT_TRUE(window->isVisible());  // Cancel ends the walk; the walk's end closes the window
  window->Finish();

  // The close box while the walk goes on is a Cancel as well, and so is Escape.
  auto other = MakeRef<TScanner>(&delegate, &face);
  auto* second = new ScannerWindow(*other);
  second->show();
  second->close();
  EXPECT_TRUE(other->IsCancelled());
  auto escaped = MakeRef<TScanner>(&delegate, &face);
  auto* byEscape = new ScannerWindow(*escaped);
  test::TabCycle(byEscape);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_TRUE(escaped->IsCancelled());
  byEscape->Finish();
  // A window closed by the walk's end cancels nothing.
  auto third = MakeRef<TScanner>(&delegate, &face);
  auto* finished = new ScannerWindow(*third);
  finished->show();
  finished->Finish();
  EXPECT_FALSE(third->IsCancelled());
  QApplication::processEvents();
}

TEST(FolderPanel, ShowsTheMessageStartsWhereAskedAndReturnsTheChosenFolder) {
  test::TempDir dir;
  const std::string start = dir.MakeFolder("start"), chosen = dir.MakeFolder("start/Chosen");
  FolderPanel panel;
  panel.message = "Please locate the iCloud Drive folder. You will only need to choose the folder once.";
  panel.prompt = "Choose";
  panel.startDirectory = start;
  panel.canCreateDirectories = true;
  FolderPanelDialog dialog(panel);
  EXPECT_EQ(dialog.windowTitle(), QString());  // the empty title
  auto* message = dialog.findChild<QLabel*>(QStringLiteral("panelMessage"));
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(message->text().toStdString(), panel.message);
  EXPECT_EQ(dialog.FileDialog()->directory().absolutePath().toStdString(), start);
  EXPECT_EQ(dialog.FileDialog()->labelText(QFileDialog::Accept), QStringLiteral("Choose"));
  EXPECT_FALSE(dialog.FileDialog()->testOption(QFileDialog::ReadOnly));  // folders may be made
  WhenShown([&](QWidget& w) {
    Keep(w, "folder-panel");
    dialog.FileDialog()->selectFile(QString::fromStdString(chosen));
    QMetaObject::invokeMethod(dialog.FileDialog(), "accept");  // its confirm button
  });
  EXPECT_EQ(dialog.Run(), chosen);

  FolderPanelDialog cancelled(panel);
  WhenShown([](QWidget& w) { QTest::keyClick(&w, Qt::Key_Escape); });
  EXPECT_EQ(cancelled.Run(), std::nullopt);
}

class PreferencesTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved = std::getenv("XDG_DATA_HOME") ? std::optional<std::string>(std::getenv("XDG_DATA_HOME")) : std::nullopt;
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    chime = dir.Write("sounds/Chime.oga", "x");
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(file, &loop));
    PopulateDefaultPreferences(NSPrefs());
    NSPrefs().SetStringArray(kPreferenceKeyIncludePatterns, {"(unclosed"});
  }
  void TearDown() override {
    if (auto* window = PreferencesWindow::Shown()) delete window;
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
    if (saved) ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
    else ::unsetenv("XDG_DATA_HOME");
  }
  static bool Serve(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) {
      QEventLoop wait;
      QTimer::singleShot(10, &wait, &QEventLoop::quit);
      wait.exec();
    }
    return done();
  }
  test::TempDir dir;
  std::string file = dir / "config/vantorel/com.quellmark.vantorel.plist";
  std::string chime;
  std::optional<std::string> saved;
  QtMainLoop loop;
};

TEST_F(PreferencesTest, OneWindowWhoseFiltersAreAddedEditedAndRemoved) {
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  EXPECT_EQ(PreferencesWindow::Open(nullptr), window);  // raised, not made again
  window->SelectPane(2);
  Keep(*window, "preferences-filters");
  auto* list = window->findChild<QListView*>(QStringLiteral("includeFiltersList"));
  ASSERT_NE(list, nullptr);
  // The bad pattern is marked, with the reason, and stays stored.
  const QModelIndex bad = list->model()->index(0, 0);
  EXPECT_FALSE(list->model()->data(bad, Qt::DecorationRole).isNull());
  EXPECT_TRUE(list->model()->data(bad, Qt::ToolTipRole).toString().contains(QStringLiteral("regular expression")));
  // A new row is a draft: shown, selected for typing over, never stored as
  // "untitled"; Escape takes it away.
  const auto openEditor = [list] {
    QLineEdit* editor = nullptr;  // the open one (another may be closing)
    for (auto* candidate : list->findChildren<QLineEdit*>())
      if (candidate->isVisible()) editor = candidate;
    return editor;
  };
  const std::vector<std::string> before{"(unclosed"};
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("addIncludeFilter")), Qt::LeftButton);
  EXPECT_EQ(list->model()->rowCount(), 2);
  EXPECT_EQ(list->currentIndex().row(), 1);
  ASSERT_NE(openEditor(), nullptr);
  EXPECT_EQ(openEditor()->selectedText(), QStringLiteral("untitled"));
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns), before);
  QTest::keyClick(openEditor(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_EQ(list->model()->rowCount(), 1);
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns), before);
  // Left empty: gone too.
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("addIncludeFilter")), Qt::LeftButton);
  ASSERT_NE(openEditor(), nullptr);
  QTest::keyClick(openEditor(), Qt::Key_Delete);
  QTest::keyClick(openEditor(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(list->model()->rowCount(), 1);
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns), before);
  // Typed over: stored at once.
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("addIncludeFilter")), Qt::LeftButton);
  ASSERT_NE(openEditor(), nullptr);
  QTest::keyClicks(openEditor(), QStringLiteral("/Projects/"));
  QTest::keyClick(openEditor(), Qt::Key_Return);
  QApplication::processEvents();  // the view commits an edit just after the key
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns),
            (std::vector<std::string>{"(unclosed", "/Projects/"}));
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("addIncludeFilter")), Qt::LeftButton);
  QTest::keyClicks(openEditor(), QStringLiteral("/Other/"));
  QTest::keyClick(openEditor(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns),
            (std::vector<std::string>{"(unclosed", "/Projects/", "/Other/"}));
  // Removing with nothing selected removes nothing; with a row, that row.
  auto* excludes = window->findChild<QListView*>(QStringLiteral("excludeFiltersList"));
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("removeExcludeFilter")), Qt::LeftButton);
  EXPECT_FALSE(NSPrefs().HasKey(kPreferenceKeyExcludePatterns));  // nothing was even written
  list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::ClearAndSelect);
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("removeIncludeFilter")), Qt::LeftButton);
  EXPECT_EQ(NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns),
            (std::vector<std::string>{"(unclosed", "/Projects/"}));
  (void)excludes;
}

TEST_F(PreferencesTest, TheSoundMenuStoresNoneASoundOrRemovesTheKey) {
  dir.Write("sounds/Zebra.oga", "x");
  dir.Write("sounds/Alarm.oga", "x");
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  Keep(*window, "preferences-general");
  auto* sounds = window->findChild<QComboBox*>(QStringLiteral("notificationSoundsButton"));
  ASSERT_NE(sounds, nullptr);
  EXPECT_EQ(sounds->currentText(), QStringLiteral("Default"));  // nothing stored: the default sound
  // Sorted by name, whatever the folder's order.
  EXPECT_LT(sounds->findText(QStringLiteral("Alarm")), sounds->findText(QStringLiteral("Chime")));
  EXPECT_LT(sounds->findText(QStringLiteral("Chime")), sounds->findText(QStringLiteral("Zebra")));
  const auto choose = [sounds](const QString& title) {
    const int index = sounds->findText(title);
    ASSERT_GE(index, 0) << title.toStdString();
    sounds->setCurrentIndex(index);
    emit sounds->activated(index);
  };
  choose(QStringLiteral("None"));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyNotificationSound), "****");
  choose(QStringLiteral("Chime"));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyNotificationSound), chime);
  choose(QStringLiteral("Default"));
  EXPECT_FALSE(NSPrefs().HasKey(kPreferenceKeyNotificationSound));
  delete window;

  // A sound that is gone: nothing chosen, and the stored value stays.
  NSPrefs().SetString(kPreferenceKeyNotificationSound, "/usr/share/sounds/gone.oga");
  window = PreferencesWindow::Open(nullptr);
  sounds = window->findChild<QComboBox*>(QStringLiteral("notificationSoundsButton"));
  EXPECT_EQ(sounds->currentIndex(), -1);
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyNotificationSound), "/usr/share/sounds/gone.oga");
}

TEST_F(PreferencesTest, TheIconColoursPopupFollowsAndStoresTheChoice) {
  NSPrefs().SetString(kPreferenceKeyStatusItemAppearance, "Dark");
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  auto* look = window->findChild<QComboBox*>(QStringLiteral("statusItemAppearancePopup"));
  ASSERT_NE(look, nullptr);
  EXPECT_EQ(look->currentData().toString(), QStringLiteral("dark"));
  look->setCurrentIndex(look->findData(QStringLiteral("light")));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyStatusItemAppearance), "light");
  NSPrefs().SetString(kPreferenceKeyStatusItemAppearance, "purple");  // from elsewhere, unknown: automatic
  EXPECT_TRUE(QTest::qWaitFor([&] { return look->currentData().toString() == QStringLiteral("auto"); }, 3000));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyStatusItemAppearance), "purple") << "shown, not rewritten";
  window->close();
}

TEST_F(PreferencesTest, TheSyncServicePopupStoresItsChoiceForTheNextLaunch) {
  NSPrefs().SetString(kPreferenceKeySyncService, "bogus");
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  auto* service = window->findChild<QComboBox*>(QStringLiteral("syncServicePopup"));
  auto* found = window->findChild<QLabel*>(QStringLiteral("syncServiceFound"));
  ASSERT_NE(service, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(service->currentData().toString(), QStringLiteral("auto"));  // an unknown value: the default
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeySyncService), "bogus");    // and is not rewritten
  service->setCurrentIndex(service->findData(QStringLiteral("nextcloud")));
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeySyncService), "nextcloud");
  EXPECT_TRUE(found->text().endsWith(QStringLiteral("next launch.")));
  TUserDefaults(file).SetString(kPreferenceKeySyncService, "owncloud");  // vantorel-defaults, say
  EXPECT_TRUE(QTest::qWaitFor([&] { return service->currentData().toString() == QStringLiteral("owncloud"); }, 3000));
}

TEST_F(PreferencesTest, AChangeByAnotherProcessIsShownAndAWrongTypeShowsItsDefault) {
  NSPrefs().SetString(kPreferenceKeyPollingMode, "fast");  // the wrong type
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  window->SelectPane(1);
  Keep(*window, "preferences-advanced");
  auto* polling = window->findChild<QComboBox*>(QString::fromStdString(kPreferenceKeyPollingMode));
  EXPECT_EQ(polling->currentData().toInt(), 1);  // shown as the default
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyPollingMode), "fast");  // and not rewritten
  TUserDefaults(file).SetInteger(kPreferenceKeyPollingMode, 2);  // vantorel-defaults, say
  EXPECT_TRUE(Serve([&] { return polling->currentData().toInt() == 2; }));
}

TEST_F(PreferencesTest, EachPaneIsWalkedByTabInReadingOrderAndKeysChangePanesAndClose) {
  QPointer<PreferencesWindow> window = PreferencesWindow::Open(nullptr);
  auto* panes = window->findChild<QStackedWidget*>();
  for (int pane = 0; pane < 3; ++pane) {
    SCOPED_TRACE("pane " + std::to_string(pane));
    ASSERT_EQ(panes->currentIndex(), pane);
    const QList<QWidget*> stops = test::TabCycle(window);
    ASSERT_GE(stops.size(), 4);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(qobject_cast<QToolButton*>(stops[i]));  // the pane buttons first
    test::ExpectEveryControlReached(window, stops);
    test::ExpectReadingOrder(stops);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  }
  EXPECT_EQ(panes->currentIndex(), 0);  // round again
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(panes->currentIndex(), 2);
  // Space on a pane button shows its pane.
  auto* general = qobject_cast<QToolButton*>(test::TabCycle(window).front());
  general->setFocus(Qt::TabFocusReason);
  QTest::keyClick(general, Qt::Key_Space);
  EXPECT_EQ(panes->currentIndex(), 0);
  // The signs of the pattern lists say what they do.
  EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("addExcludeFilter"))->accessibleName(),
            QStringLiteral("Add exclude pattern"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(!window || !window->isVisible());
}

TEST_F(PreferencesTest, TheWindowIsAsHighAsItsPaneNeedsPlus94WithItsTopKept) {
  PreferencesWindow* window = PreferencesWindow::Open(nullptr);
  QWidget pane;
  auto* lowest = new QPushButton(QStringLiteral("lowest"), &pane);
  lowest->setGeometry(10, 280, 100, 20);  // its bottom sits 300 points down
  EXPECT_EQ(PreferencesWindow::NeededHeight(&pane), 300);
  window->move(40, 60);
  const int top = window->y();
  window->FitToPane(&pane);
  EXPECT_EQ(window->height(), 394);
  EXPECT_EQ(window->y(), top);
}

TEST(AboutWindow, OneWindowRaisedAgainWithTheVersionAndTheWebsite) {
  AboutWindow* first = AboutWindow::Open();
  AboutWindow* again = AboutWindow::Open();
  EXPECT_EQ(first, again);
  EXPECT_TRUE(first->findChild<QLabel*>(QStringLiteral("versionField"))->text().startsWith(QStringLiteral("Version ")));
  EXPECT_TRUE(first->findChild<QLabel*>(QStringLiteral("websiteLink"))->openExternalLinks());
  Keep(*first, "about");
  // The keyboard reaches the website and Close; Escape closes.
  const QList<QWidget*> stops = test::TabCycle(first);
  test::ExpectEveryControlReached(first, stops);
  EXPECT_TRUE(stops.contains(first->findChild<QLabel*>(QStringLiteral("websiteLink"))));
  QPointer<AboutWindow> shown = first;
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(!shown || !shown->isVisible());
  if (shown) shown->close();
  QApplication::processEvents();
}

TEST_F(PreferencesTest, TheSyncClientsFoldersAreOfferedOnceItHasAny) {
  ClientCommands client;
  PreferencesWindow* window = PreferencesWindow::Open(&client);
  auto* offer = window->findChild<QToolButton*>(QStringLiteral("syncClientFolders"));
  ASSERT_NE(offer, nullptr);
  EXPECT_FALSE(offer->isVisibleTo(window));  // nothing to offer yet
  const std::string photos = dir.path() + "/Sync/Photos";
  client.folders = {{dir.path() + "/Sync/Documents", "Syncthing", ""}, {photos, "Syncthing", "Holidays"}};
  ASSERT_TRUE(Serve([&] { return offer->isVisibleTo(window); }));  // found while the window is open
  ASSERT_EQ(offer->menu()->actions().size(), 2);
  // Named as the client names them; the watched one checked once chosen.
  QAction* second = offer->menu()->actions().at(1);
  EXPECT_EQ(second->text().toStdString(), "Syncthing: Holidays (" + photos + ")");
  EXPECT_FALSE(second->isChecked());
  second->trigger();
  EXPECT_EQ(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder), photos);
  ASSERT_TRUE(Serve([&] { return offer->menu()->actions().at(1)->isChecked(); }));
  EXPECT_EQ(offer->menu()->actions().at(0)->text().toStdString(), "Syncthing: " + dir.path() + "/Sync/Documents");
  const auto patterns = NSPrefs().GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{});
  EXPECT_TRUE(std::any_of(patterns.begin(), patterns.end(),
                          [](const std::string& p) { return p.find("Photos") != std::string::npos; }));
}

TEST(PauseSyncingAction, ShownAndWordedByTheClientsState) {
  ClientCommands client;
  QMenu menu;
  QAction* action = AddPauseSyncingAction(&menu, [&] { return static_cast<TAppCommands*>(&client); });
  emit menu.aboutToShow();
  EXPECT_TRUE(action->isVisible());
  EXPECT_EQ(action->text(), QStringLiteral("Pause Syncing"));
  action->trigger();
  EXPECT_TRUE(client.paused);
  emit menu.aboutToShow();
  EXPECT_EQ(action->text(), QStringLiteral("Resume Syncing"));
  action->trigger();
  EXPECT_FALSE(client.paused);
  client.running = false;  // away: shown, greyed
  emit menu.aboutToShow();
  EXPECT_TRUE(action->isVisible());
  EXPECT_FALSE(action->isEnabled());
  client.running = true;
  client.canPause = false;  // a client that cannot be paused, or none
  emit menu.aboutToShow();
  EXPECT_FALSE(action->isVisible());
  QMenu without;
  QAction* none = AddPauseSyncingAction(&without, [] { return static_cast<TAppCommands*>(nullptr); });
  emit without.aboutToShow();
  EXPECT_FALSE(none->isVisible());
}

}  // namespace
}  // namespace vantorel
