#pragma once
// A client of sway's IPC socket ($SWAYSOCK): the compositor's own way to
// float and place a window, which a Wayland client cannot do for itself.
// Messages are answered in order; each answer (or nothing, when the socket
// fails or says nothing within a second) goes to the callback given with
// it. Never blocks. Main thread only.

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace vantorel {

class SwayIpc : public QObject {
public:
  enum Type : quint32 { RunCommand = 0, GetTree = 4 };
  // The answer's payload; empty when none came.
  using Reply = std::function<void(const QByteArray& payload)>;

  // The socket's path, or empty when this is not a sway session.
  static QString SocketPath();

  explicit SwayIpc(const QString& socketPath, QObject* parent = nullptr);

  void Send(Type type, const QByteArray& payload, Reply reply);

private:
  void Connected();
  void ReadAnswers();
  void Fail();

  QLocalSocket socket_;
  QTimer deadline_;
  QByteArray received_;
  // What was asked and is not answered yet, oldest first.
  std::deque<std::pair<QByteArray, Reply>> waiting_;
  bool sent_ = false;  // the waiting messages went out on this connection
};

}  // namespace vantorel
