#include "desktop/helpers/SwayIpc.h"


#include <cstring>

namespace vantorel {

namespace {
constexpr char kMagic[] = "i3-ipc";
constexpr int kMagicSize = 6;
constexpr int kHeaderSize = kMagicSize + 8;
constexpr int kAnswerWithinMs = 1000;

// Sway speaks in the host's byte order.
QByteArray Message(quint32 type, const QByteArray& payload) {
  QByteArray message(kMagic, kMagicSize);
  const quint32 header[2] = {static_cast<quint32>(payload.size()), type};
  message.append(reinterpret_cast<const char*>(header), sizeof header);
  return message + payload;
}
}  // namespace

QString SwayIpc::SocketPath() { return qEnvironmentVariable("SWAYSOCK"); }

SwayIpc::SwayIpc(const QString& socketPath, QObject* parent) : QObject(parent) {
  socket_.setServerName(socketPath);
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, &SwayIpc::Fail);
  connect(&socket_, &QLocalSocket::connected, this, &SwayIpc::Connected);
  connect(&socket_, &QLocalSocket::readyRead, this, &SwayIpc::ReadAnswers);
  connect(&socket_, &QLocalSocket::errorOccurred, this, &SwayIpc::Fail);
}

void SwayIpc::Send(Type type, const QByteArray& payload, Reply reply) {
  waiting_.emplace_back(Message(type, payload), std::move(reply));
  if (socket_.state() == QLocalSocket::ConnectedState) {
    socket_.write(waiting_.back().first);
  } else if (socket_.state() == QLocalSocket::UnconnectedState) {
    sent_ = false;
    socket_.connectToServer();
  }
  if (!deadline_.isActive()) deadline_.start(kAnswerWithinMs);
}

void SwayIpc::Connected() {
  if (sent_) return;
  sent_ = true;
  for (const auto& [message, reply] : waiting_) socket_.write(message);
}

void SwayIpc::ReadAnswers() {
  received_ += socket_.readAll();
  while (received_.size() >= kHeaderSize && !waiting_.empty()) {
    if (std::memcmp(received_.constData(), kMagic, kMagicSize) != 0) return Fail();
    quint32 length = 0;
    std::memcpy(&length, received_.constData() + kMagicSize, sizeof length);
    if (received_.size() < kHeaderSize + static_cast<qsizetype>(length)) return;
    const QByteArray payload = received_.mid(kHeaderSize, length);
    received_.remove(0, kHeaderSize + length);
    Reply reply = std::move(waiting_.front().second);
    waiting_.pop_front();
    if (waiting_.empty()) deadline_.stop();
    else deadline_.start(kAnswerWithinMs);
    if (reply) reply(payload);
  }
}

// A socket that failed or fell silent answers nothing to everything asked;
// the next message connects afresh.
void SwayIpc::Fail() {
  deadline_.stop();
  received_.clear();
  auto waiting = std::exchange(waiting_, {});
  socket_.abort();
  for (auto& [message, reply] : waiting)
    if (reply) reply({});
}

}  // namespace vantorel
