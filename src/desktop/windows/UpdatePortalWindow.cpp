#include "desktop/windows/UpdatePortalWindow.h"

#include <QDialogButtonBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <cctype>
#include <cmath>

#include "desktop/helpers/Workspace.h"
#include "shell/BuildInfo.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
QPointer<UpdatePortalWindow> gShared;

// A page view that opens links in the browser and fetches nothing itself:
// no images, style sheets or anything else from the network.
class PortalView : public QTextBrowser {
public:
  using QTextBrowser::QTextBrowser;
  QVariant loadResource(int, const QUrl&) override { return {}; }
};
}  // namespace

std::string PortalRequestAddress(const std::string& endpoint, const std::string& bundleName, const std::string& mode,
                                 double width, double height, std::int64_t level,
                                 std::optional<AbsoluteTime> previousRequest) {
  std::string sender = bundleName;
  for (char& c : sender) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string address = endpoint + "?sender=" + sender + "&mode=" + mode + "&size=" +
                        std::to_string(static_cast<long long>(width)) + "x" +
                        std::to_string(static_cast<long long>(height)) + "&appstore=0&level=" + std::to_string(level);
  if (previousRequest)
    address += "&previousRequest=" + std::to_string(static_cast<long long>(std::trunc(UnixTimeFromAbsolute(*previousRequest))));
  return shortString(address);
}

UpdatePortalWindow* UpdatePortalWindow::Shared() { return gShared; }

bool UpdatePortalWindow::IsConfigured(const std::string& endpoint) {
  return !endpoint.empty() && NSPrefs().GetInteger(kPreferenceKeyPortalLevel).value_or(0) != 0;
}

bool UpdatePortalWindow::CheckForUpdates(const std::string& endpoint, int timeoutMilliseconds) {
  if (gShared || !IsConfigured(endpoint)) return false;
  const std::int64_t level = NSPrefs().GetInteger(kPreferenceKeyPortalLevel).value_or(0);
  const std::string address = PortalRequestAddress(endpoint, kBundleName, "update", 500, 300, level,
                                                   NSPrefs().GetDate(kPreferenceKeyPreviousPortalRequest));
  auto* window = new UpdatePortalWindow();
  gShared = window;
  if (!window->Start(address, timeoutMilliseconds)) {
    window->deleteLater();
    return false;
  }
  return true;
}

namespace {

// The page's text in the character set its content type names ("text/html;
// charset=ISO-8859-1"); UTF-8 when it names none, or one not known here.
QString DecodedPage(const QByteArray& body, const QString& contentType) {
  for (const QString& parameter : contentType.split(QLatin1Char(';'))) {
    const QString trimmed = parameter.trimmed();
    if (!trimmed.startsWith(QStringLiteral("charset="), Qt::CaseInsensitive)) continue;
    QString name = trimmed.mid(8);
    name.remove(QLatin1Char('"'));
    QStringDecoder decoder(name.toLatin1().constData());
    if (decoder.isValid()) return decoder.decode(body);
  }
  return QString::fromUtf8(body);
}

}  // namespace

UpdatePortalWindow::UpdatePortalWindow(QWidget* parent) : QDialog(parent), network_(new QNetworkAccessManager(this)) {
  setObjectName(QStringLiteral("updatePortalWindow"));
  setWindowTitle(QStringLiteral("Vantorel"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  portalView_ = new PortalView(this);
  portalView_->setObjectName(QStringLiteral("portalView"));
  portalView_->setOpenLinks(false);  // a link opens the browser; the page stays
  connect(portalView_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
    // Relative to the page; and only web and mail addresses: a page from the
    // network must not have a local file opened (or run) by a click.
    const QUrl target = QUrl(QString::fromStdString(address_)).resolved(link);
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
      OpenWithDefaultHandler(target.toString().toStdString());
    else
      WriteDiagnosticLine("Not opening the portal's link " + target.toString().toStdString() +
                          ": only web and mail addresses are opened from it.");
  });
  portalView_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  portalView_->setContextMenuPolicy(Qt::NoContextMenu);
  portalView_->setAcceptDrops(false);
  portalView_->setMinimumSize(500, 300);
  layout->addWidget(portalView_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* later = buttons->addButton(QStringLiteral("Remind Me Later"), QDialogButtonBox::RejectRole);
  QPushButton* done = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
  later->setObjectName(QStringLiteral("remindLaterButton"));
  done->setObjectName(QStringLiteral("doneButton"));
  done->setDefault(true);
  connect(done, &QPushButton::clicked, this, [this] {
    NSPrefs().SetDate(kPreferenceKeyPreviousPortalRequest, CurrentAbsoluteTime());
    close();
  });
  connect(later, &QPushButton::clicked, this, &QDialog::close);
  layout->addWidget(buttons);
}

UpdatePortalWindow::~UpdatePortalWindow() = default;

bool UpdatePortalWindow::Start(const std::string& address, int timeoutMilliseconds) {
  address_ = address;
  const QUrl url(QString::fromStdString(address));
  if (!url.isValid()) return false;
  QNetworkRequest request(url);
  request.setTransferTimeout(timeoutMilliseconds);
  // The portal's own host only: a redirect elsewhere is not followed.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
  reply_ = network_->get(request);
  if (reply_ == nullptr) return false;
  connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
    if (received > kLargestPage) reply_->abort();  // not a notice: refused, not held in memory
  });
  connect(reply_, &QNetworkReply::finished, this, [this] { Finished(); });
  return true;
}

void UpdatePortalWindow::Finished() {
  QNetworkReply* reply = std::exchange(reply_, nullptr);
  reply->deleteLater();
  const bool tooLarge = reply->bytesAvailable() > kLargestPage;
  if (reply->error() != QNetworkReply::NoError || tooLarge) {
    const std::string why = tooLarge ? std::string("the page is larger than a notice can be")
                                     : reply->errorString().toStdString();
    WriteDiagnosticLine("web portal failed to load with error: " + address_ + " " + why);
    close();
    return;
  }
  const QByteArray body = reply->read(kLargestPage);
  if (body.isEmpty()) {  // nothing new: the window is never seen
    close();
    return;
  }
  const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
  const QString text = DecodedPage(body, type);
  if (type.startsWith(QStringLiteral("text/plain")))
    portalView_->setPlainText(text);
  else
    portalView_->setHtml(text);  // rich text only: no scripts run, nothing is fetched
  raise();
  activateWindow();
  exec();
}

}  // namespace vantorel
