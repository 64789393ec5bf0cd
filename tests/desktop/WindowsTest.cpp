// The windows, driven as a user would: found by object name, clicked, typed
// at. Each is also kept as a picture (artefacts/) to be looked at.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "desktop/windows/AboutWindow.h"
#include "desktop/windows/FolderPanel.h"
#include "desktop/windows/ScannerWindow.h"
#include "desktop/windows/WelcomeWindow.h"
#include "shell/RecordingFace.h"
#include "shell/Scanner.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"

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

  WelcomeWindow third;
  WhenShown([](QWidget& w) { QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("quitButton")), Qt::LeftButton); });
  EXPECT_EQ(third.Run().action, WelcomeChoice::Action::Quit);

  WelcomeWindow fourth;
  WhenShown([](QWidget& w) { w.close(); });  // the close box: the launch goes on
  EXPECT_EQ(fourth.Run().action, WelcomeChoice::Action::Closed);
}

class NoDelegate : public TScannerDelegate {
  void scannerWillStart() override {}
  void scannerDidStop(const std::vector<std::string>&, bool) override {}
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
  EXPECT_TRUE(path->toolTip().endsWith(QStringLiteral("report.pdf")));
  Keep(*window, "scanner");
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
  EXPECT_TRUE(scanner->IsCancelled());
  EXPECT_TRUE(window->isVisible());  // Cancel ends the walk; the walk's end closes the window
  window->Finish();

  // The close box while the walk goes on is a Cancel as well.
  auto other = MakeRef<TScanner>(&delegate, &face);
  auto* second = new ScannerWindow(*other);
  second->show();
  second->close();
  EXPECT_TRUE(other->IsCancelled());
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

TEST(AboutWindow, OneWindowRaisedAgainWithTheVersionAndTheWebsite) {
  AboutWindow* first = AboutWindow::Open();
  AboutWindow* again = AboutWindow::Open();
  EXPECT_EQ(first, again);
  EXPECT_TRUE(first->findChild<QLabel*>(QStringLiteral("versionField"))->text().startsWith(QStringLiteral("Version ")));
  EXPECT_TRUE(first->findChild<QLabel*>(QStringLiteral("websiteLink"))->openExternalLinks());
  Keep(*first, "about");
  first->close();
  QApplication::processEvents();
}

}  // namespace
}  // namespace vantorel
