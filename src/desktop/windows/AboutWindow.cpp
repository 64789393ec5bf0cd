#include "desktop/windows/AboutWindow.h"

#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include "shell/BuildInfo.h"

namespace vantorel {

AboutWindow* AboutWindow::Open() {
  static QPointer<AboutWindow> shown;
  if (!shown) shown = new AboutWindow();
  shown->show();
  shown->raise();
  shown->activateWindow();
  return shown;
}

AboutWindow::AboutWindow() {
  setObjectName(QStringLiteral("aboutWindow"));
  setWindowTitle(QStringLiteral("About Vantorel"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 12);
  layout->setSpacing(6);
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/vantorel.svg")).pixmap(64, 64));
  icon->setAlignment(Qt::AlignHCenter);
  layout->addWidget(icon);
  auto* name = new QLabel(QString::fromUtf8(kBundleName), this);
  QFont font = name->font();
  font.setPointSizeF(font.pointSizeF() * 1.4);
  font.setBold(true);
  name->setFont(font);
  name->setAlignment(Qt::AlignHCenter);
  layout->addWidget(name);
  auto* version = new QLabel(QStringLiteral("Version %1 (%2)").arg(QLatin1String(kBundleShortVersion),
                                                                     QLatin1String(kBundleVersion)),
                             this);
  version->setObjectName(QStringLiteral("versionField"));
  version->setAlignment(Qt::AlignHCenter);
  layout->addWidget(version);
  auto* website = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QLatin1String(kWebsiteURL)), this);
  website->setObjectName(QStringLiteral("websiteLink"));
  website->setOpenExternalLinks(true);
  // Reached with Tab and opened with Return, like the Close button.
  website->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  website->setAlignment(Qt::AlignHCenter);
  layout->addWidget(website);
  auto* credits = new QLabel(QStringLiteral("Shows the uploads and downloads of your synced folder."), this);
  credits->setAlignment(Qt::AlignHCenter);
  credits->setWordWrap(true);
  layout->addWidget(credits);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
  setFixedWidth(320);
}

}  // namespace vantorel
