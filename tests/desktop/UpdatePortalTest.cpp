// The update check against a portal served by the test itself on the
// loopback address: what is asked, and what each kind of answer does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <functional>

#include "desktop/helpers/QtMainLoop.h"
#include "desktop/helpers/Workspace.h"
#include "desktop/windows/UpdatePortalWindow.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

// A tiny HTTP server: one answer per connection, as `answer` says.
class Portal {
public:
  enum class Answer { Page, Empty, Error, Silence, Huge, Latin1 };
  Portal() {
    server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      QTcpSocket* socket = server.nextPendingConnection();
      QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
        const QByteArray request = socket->readAll();
        targets.push_back(request.split(' ').value(1).toStdString());
        QByteArray body, status = "200 OK", type = "text/html";
        switch (answer) {
          case Answer::Page: body = "<h1>Vantorel 0.2</h1><p>Now with <a href=\"https://example.com/\">more</a>.</p>"; break;
          case Answer::Empty: break;
          case Answer::Error: status = "500 Internal Server Error"; body = "oops"; break;
          case Answer::Silence: return;  // never answers
          case Answer::Huge: body = QByteArray(2 * UpdatePortalWindow::kLargestPage, 'x'); break;
          case Answer::Latin1:
            type = "text/html; charset=ISO-8859-1";
            body = "<p>Caf\xe9 <a href=\"/more\">more</a> <a href=\"file:///etc/passwd\">local</a></p>";
            break;
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
      });
    });
  }
  std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/notice"; }
  QTcpServer server;
  Answer answer = Answer::Page;
  std::vector<std::string> targets;
};

bool Serve(const std::function<bool()>& done, int milliseconds = 5000) {
  for (int waited = 0; waited < milliseconds && !done(); waited += 10) {
    QEventLoop wait;
    QTimer::singleShot(10, &wait, &QEventLoop::quit);
    wait.exec();
  }
  return done();
}

class UpdatePortalTest : public ::testing::Test {
protected:
  void SetUp() override {
    MainLoop::SetMain(&loop);
    TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(dir / "prefs.plist", &loop));
  }
  void TearDown() override {
    TUserDefaults::SetStandard(nullptr);
    MainLoop::SetMain(nullptr);
  }
  // Clicks `button` of the portal window once it shows (modally).
  void ClickWhenShown(const char* button) {
    QTimer* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, [poll, button] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) return;
      poll->deleteLater();
      shownText = modal->findChild<QTextBrowser*>(QStringLiteral("portalView"))->toPlainText().toStdString();
      modal->findChild<QPushButton*>(QLatin1String(button))->click();
    });
    poll->start(10);
  }
  test::TempDir dir;
  QtMainLoop loop;
  Portal portal;
  static inline std::string shownText;
};

TEST_F(UpdatePortalTest, NothingIsAskedWithoutALevelAndTheAddressCarriesTheLastDone) {
  EXPECT_FALSE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));
  Serve([] { return false; }, 100);
  EXPECT_TRUE(portal.targets.empty());

  NSPrefs().SetInteger(kPreferenceKeyPortalLevel, 2);
  ClickWhenShown("doneButton");
  ASSERT_TRUE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));
  EXPECT_FALSE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));  // one at a time
  ASSERT_TRUE(Serve([] { return UpdatePortalWindow::Shared() == nullptr; }));
  ASSERT_EQ(portal.targets.size(), 1u);
  EXPECT_EQ(portal.targets[0], "/notice?sender=vantorel&mode=update&size=500x300&appstore=0&level=2");
  EXPECT_NE(shownText.find("Vantorel 0.2"), std::string::npos);
  const auto done = NSPrefs().GetDate(kPreferenceKeyPreviousPortalRequest);
  ASSERT_TRUE(done);

  ClickWhenShown("remindLaterButton");
  ASSERT_TRUE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));
  ASSERT_TRUE(Serve([] { return UpdatePortalWindow::Shared() == nullptr; }));
  ASSERT_EQ(portal.targets.size(), 2u);
  EXPECT_EQ(portal.targets[1], portal.targets[0] + "&previousRequest=" +
                                   std::to_string(static_cast<long long>(UnixTimeFromAbsolute(*done))));
  EXPECT_EQ(NSPrefs().GetDate(kPreferenceKeyPreviousPortalRequest), done);  // Remind Me Later keeps it
}

TEST_F(UpdatePortalTest, APageInItsOwnCharsetWhoseWebLinksOpenInTheBrowser) {
  NSPrefs().SetInteger(kPreferenceKeyPortalLevel, 1);
  portal.answer = Portal::Answer::Latin1;
  std::vector<std::string> opened;
  SetWorkspaceHookForTesting([&](const std::string& verb, const std::string& target) { opened.push_back(verb + " " + target); });
  QTimer* poll = new QTimer();
  QObject::connect(poll, &QTimer::timeout, [poll] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    poll->deleteLater();
    auto* view = modal->findChild<QTextBrowser*>(QStringLiteral("portalView"));
    shownText = view->toPlainText().toStdString();
    // A click on the first link, where the pointer would make it.
    QTextCursor link = view->document()->find(QStringLiteral("more"));
    link.setPosition(link.selectionStart() + 2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->cursorRect(link).center());
    // The keyboard: Tab goes on to the next link, Return follows it.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Tab);
    QTest::keyClick(view, Qt::Key_Return);
    modal->findChild<QPushButton*>(QStringLiteral("doneButton"))->click();
  });
  poll->start(10);
  test::CaptureDiagnostics diagnostics;
  ASSERT_TRUE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));
  ASSERT_TRUE(Serve([] { return UpdatePortalWindow::Shared() == nullptr; }));
  SetWorkspaceHookForTesting(nullptr);
  EXPECT_NE(shownText.find("Caf\u00e9"), std::string::npos) << shownText;
  EXPECT_EQ(opened, std::vector<std::string>{"open http://127.0.0.1:" + std::to_string(portal.server.serverPort()) + "/more"});
  EXPECT_NE(diagnostics.Text().find("Not opening the portal's link file:///etc/passwd"), std::string::npos);
}

TEST_F(UpdatePortalTest, EmptyFailedSilentAndHugeAnswersCloseUnseen) {
  NSPrefs().SetInteger(kPreferenceKeyPortalLevel, 1);
  portal.answer = Portal::Answer::Empty;
  test::CaptureDiagnostics diagnostics;
  ASSERT_TRUE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint()));
  ASSERT_TRUE(Serve([] { return UpdatePortalWindow::Shared() == nullptr; }));
  EXPECT_EQ(diagnostics.Text(), "");  // nothing new is no failure

  for (const Portal::Answer answer : {Portal::Answer::Error, Portal::Answer::Silence, Portal::Answer::Huge}) {
    portal.answer = answer;
    test::CaptureDiagnostics failed;
    ASSERT_TRUE(UpdatePortalWindow::CheckForUpdates(portal.Endpoint(), 500));
    ASSERT_TRUE(Serve([] { return UpdatePortalWindow::Shared() == nullptr; }));
    EXPECT_EQ(failed.Text().rfind("web portal failed to load with error: " + portal.Endpoint(), 0), 0u)
        << failed.Text();
  }
  EXPECT_FALSE(NSPrefs().HasKey(kPreferenceKeyPreviousPortalRequest));
}

}  // namespace
}  // namespace vantorel
