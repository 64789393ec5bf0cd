#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QWidget>

#include <cstring>

#include "desktop/helpers/SwayIpc.h"
#include "desktop/popover/SwayPlacement.h"

namespace vantorel {
namespace {

// Trimmed from sway 1.7's GET_TREE: an 800×500 output with a 34-pixel top
// bar (the workspace starts under it), and the window floated at the pointer.
QJsonObject Tree(const char* window, const char* workspace = R"({"x": 0, "y": 34, "width": 800, "height": 466})") {
  const QByteArray json = QByteArray(R"({"id": 1, "type": "root", "rect": {"x": 0, "y": 0, "width": 800, "height": 500},
    "nodes": [{"id": 2, "type": "output", "name": "__i3", "rect": {"x": 0, "y": 0, "width": 800, "height": 500}, "nodes": []},
      {"id": 3, "type": "output", "name": "HEADLESS-1", "rect": {"x": 0, "y": 0, "width": 800, "height": 500},
       "nodes": [{"id": 4, "type": "workspace", "name": "1", "rect": )") +
                           workspace + R"(, "nodes": [{"id": 9, "type": "con", "name": "Vantorel", "pid": 77,
         "rect": {"x": 0, "y": 34, "width": 800, "height": 466}}],
         "floating_nodes": [)" + window + "]}]}]}";
  return QJsonDocument::fromJson(json).object();
}

TEST(SwayPlacement, FindsTheWindowOfThisProcessWithItsWorkspaceAndOutput) {
  const auto found = FindSwayWindow(
      Tree(R"({"id": 12, "type": "floating_con", "name": "Vantorel", "pid": 42, "rect": {"x": 458, "y": 0, "width": 342, "height": 266}})"),
      42, QStringLiteral("Vantorel"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->id, 12);  // not the other process's window of the same name
  EXPECT_EQ(found->rect, (PlacementRect{458, 0, 342, 266}));
  EXPECT_EQ(found->area, (PlacementRect{0, 34, 800, 466}));
  EXPECT_EQ(found->output, (PlacementRect{0, 0, 800, 500}));
  EXPECT_FALSE(FindSwayWindow(Tree("{}"), 42, QStringLiteral("Vantorel")));
  EXPECT_FALSE(FindSwayWindow(QJsonObject(), 42, QStringLiteral("Vantorel")));
}

TEST(SwayPlacement, UnderATopBarAboveABottomOneBesideThePointerElsewhere) {
  const PlacementRect output{0, 0, 800, 500};
  const PlacementRect underTopBar{0, 34, 800, 466}, aboveBottomBar{0, 0, 800, 466}, noBar = output;
  // Floated at a pointer on the top bar's right end: sway kept it inside the
  // output, so its middle is not the pointer; it goes under the bar, at the edge.
  EXPECT_EQ(SwayPopoverPlace({1, {458, 0, 342, 266}, underTopBar, output}), (PlacementRect{458, 38, 342, 266}));
  // Mid-bar, not pushed sideways: centred on the pointer.
  EXPECT_EQ(SwayPopoverPlace({1, {229, 0, 342, 266}, underTopBar, output}), (PlacementRect{229, 38, 342, 266}));
  // A bottom bar: above it.
  EXPECT_EQ(SwayPopoverPlace({1, {0, 234, 342, 266}, aboveBottomBar, output}), (PlacementRect{0, 196, 342, 266}));
  // Opened with the pointer in the middle of the screen, no bar there: beside it.
  EXPECT_EQ(SwayPopoverPlace({1, {229, 67, 342, 266}, noBar, output}), (PlacementRect{229, 205, 342, 266}));
}

TEST(SwayPlacement, CommandsNameTheWindowExactly) {
  EXPECT_EQ(SwayFloatAtPointerCommand(42, QStringLiteral("Vantorel")),
            R"([pid=42 title="^Vantorel$"] floating enable, border none, move position cursor)");
  // A title is a pattern inside quotes: its specials and quotes are escaped.
  EXPECT_EQ(SwayFloatAtPointerCommand(7, QStringLiteral("a \"b\" (c)")).left(40),
            QByteArray(R"([pid=7 title="^a\\ \\\"b\\\"\\ \\(c\\)$"])").left(40));
  EXPECT_EQ(SwayMoveCommand(12, {458, 38, 342, 266}), "[con_id=12] move absolute position 458 38");
}

// A stand-in for sway's socket: answers each message with what `answer`
// says, and keeps the commands it was sent.
class FakeSway {
public:
  std::function<QByteArray(quint32 type, const QByteArray& payload)> answer;
  QList<QByteArray> commands;
  QString path;

  FakeSway() {
    path = dir_.filePath(QStringLiteral("sway-ipc.sock"));
    server_.listen(path);
    QObject::connect(&server_, &QLocalServer::newConnection, [this] {
      QLocalSocket* client = server_.nextPendingConnection();
      QObject::connect(client, &QLocalSocket::readyRead, [this, client] { Read(client); });
    });
  }

private:
  void Read(QLocalSocket* client) {
    buffer_ += client->readAll();
    while (buffer_.size() >= 14) {
      quint32 header[2];
      std::memcpy(header, buffer_.constData() + 6, sizeof header);
      if (buffer_.size() < 14 + static_cast<qsizetype>(header[0])) return;
      const QByteArray payload = buffer_.mid(14, header[0]);
      buffer_.remove(0, 14 + header[0]);
      if (header[1] == SwayIpc::RunCommand) commands << payload;
      const QByteArray reply = answer ? answer(header[1], payload) : QByteArray();
      if (reply.isNull()) continue;  // silent
      const quint32 out[2] = {static_cast<quint32>(reply.size()), header[1]};
      client->write(QByteArray("i3-ipc") + QByteArray(reinterpret_cast<const char*>(out), sizeof out) + reply);
    }
  }

  QTemporaryDir dir_;
  QLocalServer server_;
  QByteArray buffer_;
};

bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(SwayPlacement, FloatsWhenTheWindowAppearsThenMovesItBesideThePointer) {
  FakeSway sway;
  int floats = 0;
  const qint64 pid = QCoreApplication::applicationPid();
  sway.answer = [&](quint32 type, const QByteArray& payload) -> QByteArray {
    if (type == SwayIpc::GetTree) {
      const QByteArray window = QStringLiteral(R"({"id": 12, "type": "floating_con", "name": "Vantorel", "pid": %1,
          "rect": {"x": 458, "y": 0, "width": 342, "height": 266}})").arg(pid).toUtf8();
      return QJsonDocument(Tree(window.constData())).toJson();
    }
    // Not in the tree yet the first two times.
    if (payload.contains("floating enable") && ++floats <= 2)
      return R"([{"success": false, "error": "No matching node."}])";
    return R"([{"success": true}])";
  };
  qputenv("SWAYSOCK", sway.path.toUtf8());
  QWidget window;
  window.setWindowTitle(QStringLiteral("Vantorel"));
  window.show();
  auto* placer = SwayPopoverPlacer::ForThisSession(&window);
  ASSERT_NE(placer, nullptr);
  placer->Place(&window);
  ASSERT_TRUE(WaitFor([&] { return sway.commands.size() == 4; }));
  EXPECT_EQ(floats, 3);
  EXPECT_EQ(sway.commands.last(), "[con_id=12] move absolute position 458 38");
  qunsetenv("SWAYSOCK");
}

TEST(SwayPlacement, ASilentOrMissingSwayLeavesTheWindowAloneWithoutBlocking) {
  {
    FakeSway sway;  // takes the message and says nothing
    sway.answer = [](quint32, const QByteArray&) { return QByteArray(); };
    QWidget window;
    window.setWindowTitle(QStringLiteral("Vantorel"));
    window.show();
    SwayIpc ipc(sway.path);
    bool answered = false;
    QByteArray got = "x";
    QElapsedTimer timer;
    timer.start();
    ipc.Send(SwayIpc::RunCommand, "nop", [&](const QByteArray& payload) { answered = true, got = payload; });
    EXPECT_LT(timer.elapsed(), 100);  // Send returns at once
    ASSERT_TRUE(WaitFor([&] { return answered; }, 3000));
    EXPECT_TRUE(got.isEmpty());
  }
  SwayIpc nowhere(QStringLiteral("/nonexistent/sway-ipc.sock"));
  bool answered = false;
  nowhere.Send(SwayIpc::GetTree, {}, [&](const QByteArray& payload) { answered = payload.isEmpty(); });
  EXPECT_TRUE(WaitFor([&] { return answered; }));
  qunsetenv("SWAYSOCK");
  EXPECT_EQ(SwayPopoverPlacer::ForThisSession(nullptr), nullptr);
}

}  // namespace
}  // namespace vantorel
