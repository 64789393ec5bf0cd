#pragma once
// The popover on sway: a Wayland client cannot place its windows, so the
// popover asks sway (through its IPC socket) to float it at the pointer,
// then reads where that put it and moves it beside the pointer as on X11:
// under a top bar, above a bottom one, inside the area the bars leave.
// Where sway is not the compositor, the compositor places the window.

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <optional>

#include "desktop/popover/PopoverPlacement.h"

namespace vantorel {

class SwayIpc;

// A window in sway's tree, in the layout's coordinates.
struct SwayWindow {
  qint64 id = 0;
  PlacementRect rect;  // the window
  PlacementRect area;  // its workspace: the output without the bars
  PlacementRect output;
};

// The window of process `pid` titled `title` in a GET_TREE answer.
std::optional<SwayWindow> FindSwayWindow(const QJsonObject& tree, qint64 pid, const QString& title);
// Floats that window, without a border, centred on the pointer.
QByteArray SwayFloatAtPointerCommand(qint64 pid, const QString& title);
// Where the popover goes, from where the window floated at the pointer
// ended: sway keeps it inside the output, so its middle is the pointer only
// where that did not push it. A pointer on a bar (the popover is opened
// from a tray) puts it against the bar's edge, as beside an icon on X11.
PlacementRect SwayPopoverPlace(const SwayWindow& floated);
QByteArray SwayMoveCommand(qint64 id, const PlacementRect& place);

// Places a shown window as above; a window that is gone or a sway that
// does not answer leaves things as they are. Main thread only.
class SwayPopoverPlacer : public QObject {
public:
  // Null when this is not a sway session.
  static SwayPopoverPlacer* ForThisSession(QObject* parent);

  void Place(QWidget* window);

private:
  SwayPopoverPlacer(const QString& socketPath, QObject* parent);
  void Float(QPointer<QWidget> window, int attempt);
  void Move(QPointer<QWidget> window);

  SwayIpc* ipc_;
};

}  // namespace vantorel
