#include "desktop/windows/WelcomeWindow.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vantorel {

WelcomeWindow::WelcomeWindow(QWidget* parent) : QDialog(parent) {
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

  auto* group = new QButtonGroup(this);
  const char* texts[2] = {"Every synced folder  (~/Library/Mobile Documents)",
                          "iCloud Drive only  (~/Library/Mobile Documents/com~apple~CloudDocs)"};
  for (int row = 0; row < 2; ++row) {
    rows_[row] = new QRadioButton(QString::fromUtf8(texts[row]), this);
    rows_[row]->setObjectName(QStringLiteral("trackingOptions%1").arg(row));
    group->addButton(rows_[row], row);
    layout->addWidget(rows_[row]);
  }
  rows_[1]->setChecked(true);

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
  choice.row = rows_[0]->isChecked() ? 0 : rows_[1]->isChecked() ? 1 : -1;
  return choice;
}

}  // namespace vantorel
