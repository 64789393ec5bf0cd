#include "desktop/popover/SwayPlacement.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimer>

#include "desktop/helpers/SwayIpc.h"

namespace vantorel {

namespace {
// A window is in sway's tree a moment after it is shown: until then the
// float command matches nothing and is tried again.
constexpr int kAttempts = 40;
constexpr int kRetryMs = 25;

PlacementRect RectOf(const QJsonValue& rect) {
  const QJsonObject r = rect.toObject();
  return {r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt(),
          r.value(QLatin1String("width")).toInt(), r.value(QLatin1String("height")).toInt()};
}

// Walks the tree keeping the output and the workspace above each node.
std::optional<SwayWindow> Find(const QJsonObject& node, qint64 pid, const QString& title, SwayWindow above) {
  const QString type = node.value(QLatin1String("type")).toString();
  if (type == QLatin1String("output")) above.output = above.area = RectOf(node.value(QLatin1String("rect")));
  if (type == QLatin1String("workspace")) above.area = RectOf(node.value(QLatin1String("rect")));
  if (node.value(QLatin1String("pid")).toInteger() == pid && node.value(QLatin1String("name")).toString() == title) {
    above.id = node.value(QLatin1String("id")).toInteger();
    above.rect = RectOf(node.value(QLatin1String("rect")));
    return above;
  }
  for (const char* children : {"nodes", "floating_nodes"})
    for (const QJsonValue& child : node.value(QLatin1String(children)).toArray())
      if (auto found = Find(child.toObject(), pid, title, above)) return found;
  return std::nullopt;
}

bool AllSucceeded(const QByteArray& answer) {
  const QJsonArray results = QJsonDocument::fromJson(answer).array();
  if (results.isEmpty()) return false;
  for (const QJsonValue& result : results)
    if (!result.toObject().value(QLatin1String("success")).toBool()) return false;
  return true;
}

QString Quoted(const QString& text) {
  QString quoted = text;
  return quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
}
}  // namespace

std::optional<SwayWindow> FindSwayWindow(const QJsonObject& tree, qint64 pid, const QString& title) {
  SwayWindow root;
  root.output = root.area = RectOf(tree.value(QLatin1String("rect")));
  return Find(tree, pid, title, root);
}

QByteArray SwayFloatAtPointerCommand(qint64 pid, const QString& title) {
  const QString criteria = QStringLiteral("[pid=%1 title=\"%2\"]")
                               .arg(pid)
                               .arg(Quoted(QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')));
  return (criteria + QLatin1String(" floating enable, border none, move position cursor")).toUtf8();
}

PlacementRect SwayPopoverPlace(const SwayWindow& floated) {
  const PlacementRect& window = floated.rect;
  const PlacementRect& area = floated.area;
  const PlacementRect& output = floated.output;
  const int areaBottom = area.y + area.height, outputBottom = output.y + output.height;
  int pointerY = window.y + window.height / 2;
  if (window.y <= output.y) pointerY = output.y;  // pushed down: the pointer is near the top
  else if (window.y + window.height >= outputBottom) pointerY = outputBottom - 1;
  PlacementRect anchor{window.x + window.width / 2, pointerY, 1, 1};
  if (area.y > output.y && pointerY < area.y) {
    anchor.y = output.y;  // on a top bar
    anchor.height = area.y - output.y;
  } else if (areaBottom < outputBottom && pointerY >= areaBottom) {
    anchor.y = areaBottom;  // on a bottom bar
    anchor.height = outputBottom - areaBottom;
  }
  return PlacePopover(anchor, area, window.width, window.height);
}

QByteArray SwayMoveCommand(qint64 id, const PlacementRect& place) {
  return QStringLiteral("[con_id=%1] move absolute position %2 %3").arg(id).arg(place.x).arg(place.y).toUtf8();
}

SwayPopoverPlacer* SwayPopoverPlacer::ForThisSession(QObject* parent) {
  const QString path = SwayIpc::SocketPath();
  return path.isEmpty() ? nullptr : new SwayPopoverPlacer(path, parent);
}

SwayPopoverPlacer::SwayPopoverPlacer(const QString& socketPath, QObject* parent)
    : QObject(parent), ipc_(new SwayIpc(socketPath, this)) {}

void SwayPopoverPlacer::Place(QWidget* window) { Float(window, 1); }

void SwayPopoverPlacer::Float(QPointer<QWidget> window, int attempt) {
  if (!window || !window->isVisible()) return;
  const QByteArray command = SwayFloatAtPointerCommand(QCoreApplication::applicationPid(), window->windowTitle());
  ipc_->Send(SwayIpc::RunCommand, command, [this, window, attempt](const QByteArray& answer) {
    if (AllSucceeded(answer)) return Move(window);
    if (!answer.isEmpty() && attempt < kAttempts)
      QTimer::singleShot(kRetryMs, this, [this, window, attempt] { Float(window, attempt + 1); });
  });
}

void SwayPopoverPlacer::Move(QPointer<QWidget> window) {
  ipc_->Send(SwayIpc::GetTree, {}, [this, window](const QByteArray& answer) {
    if (!window || !window->isVisible()) return;
    const auto found =
        FindSwayWindow(QJsonDocument::fromJson(answer).object(), QCoreApplication::applicationPid(), window->windowTitle());
    if (found) ipc_->Send(SwayIpc::RunCommand, SwayMoveCommand(found->id, SwayPopoverPlace(*found)), {});
  });
}

}  // namespace vantorel
