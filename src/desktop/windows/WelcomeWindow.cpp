#include "desktop/windows/WelcomeWindow.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vantorel {

WelcomeWindow::WelcomeWindow(WelcomeFolderSource clientFolders, QWidget* parent)
    : QDialog(parent), clientFolders_(std::move(clientFolders)) {
  setObjectName(QStringLiteral("welcomeWindow"));
  setWindowTitle(QStringLiteral("Welcome to Vantorel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  layout->setSpacing(10);

  auto* heading = new QLabel(QStringLiteral("Welcome to Vantorel"), this);
  heading->setObjectName(QStringLiteral("welcomeTextField"));
  QFont font = heading->font();
  font.setPointSize(22);
  font.setWeight(QFont::Light);  // the thin heading, in the system's own family
  heading->setFont(font);
  layout->addWidget(heading);
  auto* intro = new QLabel(QStringLiteral("Vantorel shows what your synced folder is uploading and downloading."), this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  layout->addWidget(new QLabel(QStringLiteral("What should Vantorel follow?"), this));

  group_ = new QButtonGroup(this);
  rowLayout_ = new QVBoxLayout();
  rowLayout_->setSpacing(layout->spacing());
  layout->addLayout(rowLayout_);
  const char* texts[2] = {"Every synced folder  (~/Library/Mobile Documents)",
                          "iCloud Drive only  (~/Library/Mobile Documents/com~apple~CloudDocs)"};
  for (int row = 0; row < 2; ++row) {
    rows_[row] = new QRadioButton(QString::fromUtf8(texts[row]), this);
    rows_[row]->setObjectName(QStringLiteral("trackingOptions%1").arg(row));
    group_->addButton(rows_[row], row);
    rows_[row]->installEventFilter(this);
    rowLayout_->addWidget(rows_[row]);
  }
  rows_[1]->setChecked(true);
  // A folder of the user's choosing, in the folder panel after Done; the
  // clients' rows come before it.
  anotherFolder_ = new QRadioButton(QStringLiteral("Another folder\u2026"), this);
  anotherFolder_->setObjectName(QStringLiteral("anotherFolder"));
  group_->addButton(anotherFolder_, 2);
  anotherFolder_->installEventFilter(this);
  rowLayout_->addWidget(anotherFolder_);
  noClient_ = new QLabel(QStringLiteral("No sync client is running. Vantorel follows Syncthing, the Nextcloud and "
                                        "ownCloud clients and rclone mounts; start one, or choose a folder."),
                         this);
  noClient_->setObjectName(QStringLiteral("noClientText"));
  noClient_->setWordWrap(true);
  layout->addWidget(noClient_);
  connect(group_, &QButtonGroup::buttonClicked, this, [this] { userChose_ = true; });
  if (clientFolders_) {
    AddClientRows();
    // Clients register their folders a moment after they are reached.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &WelcomeWindow::AddClientRows);
    timer->start(250);
  }

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* quit = buttons->addButton(QStringLiteral("Quit"), QDialogButtonBox::RejectRole);
  QPushButton* done = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
  quit->setObjectName(QStringLiteral("quitButton"));
  done->setObjectName(QStringLiteral("doneButton"));
  done->setDefault(true);
  connect(done, &QPushButton::clicked, this, [this] {
    action_ = WelcomeChoice::Action::Done;
    accept();
  });
  connect(quit, &QPushButton::clicked, this, [this] {
    action_ = WelcomeChoice::Action::Quit;
    reject();
  });
  layout->addSpacing(6);
  layout->addWidget(buttons);
}

WelcomeChoice WelcomeWindow::Run() {
  action_ = WelcomeChoice::Action::Closed;  // the close box, or Escape
  exec();
  WelcomeChoice choice;
  choice.action = action_;
  choice.row = rows_[0]->isChecked() ? 0 : rows_[1]->isChecked() ? 1 : anotherFolder_->isChecked() ? 2 : -1;
  for (const auto& [button, folder] : clientRows_)
    if (button->isChecked()) choice.folder = folder.path;
  return choice;
}

void WelcomeWindow::AddClientRows() {
  for (const WelcomeFolder& folder : clientFolders_()) {
    const bool shown = std::any_of(clientRows_.begin(), clientRows_.end(),
                                   [&](const auto& row) { return row.second.path == folder.path; });
    if (shown) continue;
    auto* button = new QRadioButton(QString::fromStdString(folder.label), this);
    button->setObjectName(QStringLiteral("clientFolder%1").arg(clientRows_.size()));
    group_->addButton(button, static_cast<int>(3 + clientRows_.size()));
    button->installEventFilter(this);
    rowLayout_->insertWidget(rowLayout_->indexOf(anotherFolder_), button);
    // What the user syncs with is the likely answer, until they say otherwise.
    if (!userChose_ && clientRows_.empty()) button->setChecked(true);
    clientRows_.emplace_back(button, folder);
  }
  noClient_->setVisible(clientRows_.empty());
}

// Tab into the rows, or the window's first focus, lands on the chosen one
// (Qt would take the first in line), so that the keyboard and a screen reader start from the answer;
// the arrows then move the choice.
bool WelcomeWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    QAbstractButton* chosen = group_->checkedButton();
    const bool entered = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                         reason == Qt::ActiveWindowFocusReason;
    if (entered && chosen && chosen != watched)
      chosen->setFocus(reason);
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vantorel
