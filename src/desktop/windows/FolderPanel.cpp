#include "desktop/windows/FolderPanel.h"

#include <QFileDialog>
#include <QLabel>
#include <QVBoxLayout>

namespace vantorel {

FolderPanelDialog::FolderPanelDialog(const FolderPanel& panel, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("folderPanel"));
  setWindowTitle(QString::fromStdString(panel.title));
  auto* layout = new QVBoxLayout(this);
  if (!panel.message.empty()) {
    auto* message = new QLabel(QString::fromStdString(panel.message), this);
    message->setObjectName(QStringLiteral("panelMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    layout->addWidget(message);
  }
  files_ = new QFileDialog(this, QString(), QString::fromStdString(panel.startDirectory));
  files_->setWindowFlags(Qt::Widget);
  files_->setOption(QFileDialog::DontUseNativeDialog);
  files_->setFileMode(QFileDialog::Directory);
  files_->setOption(QFileDialog::ShowDirsOnly);
  files_->setOption(QFileDialog::ReadOnly, !panel.canCreateDirectories);
  if (!panel.prompt.empty()) files_->setLabelText(QFileDialog::Accept, QString::fromStdString(panel.prompt));
  layout->addWidget(files_);
  connect(files_, &QFileDialog::accepted, this, &QDialog::accept);
  connect(files_, &QFileDialog::rejected, this, &QDialog::reject);
  resize(640, 420);
}

std::optional<std::string> FolderPanelDialog::Run() {
  if (exec() != QDialog::Accepted || files_->selectedFiles().isEmpty()) return std::nullopt;
  return files_->selectedFiles().first().toStdString();
}

}  // namespace vantorel
