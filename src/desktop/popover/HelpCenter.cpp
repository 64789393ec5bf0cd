#include "desktop/popover/HelpCenter.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
QNetworkAccessManager& Network() {
  static QNetworkAccessManager* manager = new QNetworkAccessManager(QCoreApplication::instance());
  return *manager;
}
}  // namespace

HelpCenter::HelpCenter(const QString& address, Delegate delegate, QObject* parent)
    : QObject(parent), delegate_(std::move(delegate)) {
  QNetworkRequest request{QUrl(address)};
  request.setTransferTimeout(kTimeout);
  reply_ = Network().get(request);
  connect(reply_, &QNetworkReply::finished, this, [this] { Finished(); });
}

HelpCenter::~HelpCenter() { Close(); }

void HelpCenter::Close() {
  if (!reply_) return;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
}

void HelpCenter::Finished() {
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->deleteLater();
  if (reply->error() != QNetworkReply::NoError) {
    WriteDiagnosticLine("Downloading the help articles from " + reply->url().toString().toStdString() +
                        " failed: " + reply->errorString().toStdString());
    // Said in the menu too: its loading row must not spin on for nothing.
    if (delegate_.failed) delegate_.failed();
    return;
  }
  const QByteArray body = reply->readAll();
  if (body.isEmpty()) return;
  if (!SaveHelpList(std::string_view(body.constData(), static_cast<std::size_t>(body.size())))) {
    if (delegate_.failed) delegate_.failed();
    return;
  }
  const auto articles = ReadHelpArticles(HelpListCachePath());
  if (!articles) {
    if (delegate_.failed) delegate_.failed();
    return;
  }
  if (delegate_.didLoad) delegate_.didLoad();
  // A delegate may close the download (and the menu) from a callback.
  QPointer<HelpCenter> alive(this);
  for (const HelpArticle& article : *articles) {
    if (!alive) return;
    if (delegate_.didReceiveArticle) delegate_.didReceiveArticle(article);
  }
}

}  // namespace vantorel
