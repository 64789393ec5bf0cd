#include "desktop/helpers/Workspace.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QUrl>

#include "units/fs/PathUtilities.h"
#include "units/runtime/DetachedOpener.h"

namespace vantorel {

namespace {
std::function<void(const std::string&, const std::string&)>& Hook() {
  static std::function<void(const std::string&, const std::string&)> hook;
  return hook;
}

constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";

void OpenUrl(const QUrl& url) {
  // Never on this thread: an opener that hangs or loops (a session with no
  // file manager) would hold the face.
  OpenDetached(url.toEncoded().toStdString());
}
}  // namespace

QUrl FileUrlForPath(const std::string& path) {
  // Percent-encoded from the raw bytes: a QString round trip would turn
  // invalid UTF-8 into U+FFFD and name a file that does not exist.
  const QByteArray encoded = QByteArray::fromStdString(path).toPercentEncoding("/");
  return QUrl::fromEncoded("file://" + encoded, QUrl::StrictMode);
}

void SetWorkspaceHookForTesting(std::function<void(const std::string& verb, const std::string& target)> hook) {
  Hook() = std::move(hook);
}

void RevealInFileManager(const std::string& path) {
  if (Hook()) return Hook()("reveal", path);
  QDBusConnection bus = QDBusConnection::sessionBus();
  const std::string folder = stringByDeletingLastPathComponent(path);
  if (!bus.isConnected() || bus.interface() == nullptr) {
    OpenUrl(FileUrlForPath(folder));
    return;
  }
  QDBusMessage call =
      QDBusMessage::createMethodCall(QLatin1String(kFileManagerService), QStringLiteral("/org/freedesktop/FileManager1"),
                                     QLatin1String(kFileManagerService), QStringLiteral("ShowItems"));
  call << QStringList{QString::fromLatin1(FileUrlForPath(path).toEncoded())} << QString();
  // Asked without waiting: no file manager on the bus (the call fails, even
  // after a D-Bus activation attempt) means the containing folder instead.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), qApp);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [folder](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    if (w->isError()) OpenUrl(FileUrlForPath(folder));
  });
}

void OpenWithDefaultHandler(const std::string& pathOrAddress) {
  if (Hook()) return Hook()("open", pathOrAddress);
  if (!pathOrAddress.empty() && pathOrAddress.front() == '/')
    OpenUrl(FileUrlForPath(pathOrAddress));
  else
    OpenUrl(QUrl(QString::fromStdString(pathOrAddress)));
}

void Beep() {
  if (Hook()) return Hook()("beep", "");
  QApplication::beep();
}

}  // namespace vantorel
