// The popover's top: the progress wheel, the status line and the disk
// usage beside it, and the notice shown when nothing in the folder is
// tracked.

#include "desktop/popover/TransferListViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/popover/ProgressWheelWidget.h"
#include "shell/FolderInclusion.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
QString Short(const std::string& text) { return QString::fromStdString(shortString(text)); }
}  // namespace

void TTransferListViewController::buildHeader(QLayout* layout) {
  auto* header = new QWidget(this);
  header->setFixedHeight(56);
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(12, 8, 12, 8);
  row->setSpacing(10);
  progressWheel_ = new ProgressWheelWidget(header);
  row->addWidget(progressWheel_, 0, Qt::AlignVCenter);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(1);
  statusField_ = new QLabel(header);
  statusField_->setObjectName(QStringLiteral("statusField"));
  statusField_->setTextFormat(Qt::PlainText);
  QFont semibold = statusField_->font();
  semibold.setWeight(QFont::DemiBold);
  statusField_->setFont(semibold);
  diskStatusField_ = new QLabel(header);
  diskStatusField_->setObjectName(QStringLiteral("diskStatusField"));
  diskStatusField_->setTextFormat(Qt::PlainText);
  setSecondaryText(*diskStatusField_, 0.85);
  const auto stored = NSPrefs().GetString(kPreferenceKeyICloudDiskUsage);
  diskStatusField_->setText(stored ? Short(*stored + " on disk") : QStringLiteral("Calculating disk usage..."));
  texts->addStretch();
  texts->addWidget(statusField_);
  texts->addWidget(diskStatusField_);
  texts->addStretch();
  row->addLayout(texts, 1);
  layout->addWidget(header);
}

void TTransferListViewController::buildUntrackedNotice(QLayout* layout) {
  untrackedNotice_ = new QWidget(this);
  untrackedNotice_->setObjectName(QStringLiteral("untrackedNotice"));
  auto* row = new QHBoxLayout(untrackedNotice_);
  row->setContentsMargins(12, 0, 12, 6);
  row->setSpacing(8);
  untrackedText_ = new QLabel(untrackedNotice_);
  untrackedText_->setObjectName(QStringLiteral("untrackedNoticeText"));
  untrackedText_->setTextFormat(Qt::PlainText);
  untrackedText_->setWordWrap(true);
  setSecondaryText(*untrackedText_, 0.85);
  untrackedButton_ = new QPushButton(QStringLiteral("Track It"), untrackedNotice_);
  untrackedButton_->setObjectName(QStringLiteral("trackFolderButton"));
  connect(untrackedButton_, &QPushButton::clicked, this, [this] {
    if (const auto folder = folderSettingPath(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("")))
      IncludeChosenFolder(NSPrefs(), *folder);
    else
      openPreferences();  // no folder yet: where one is chosen
    updateUntrackedNotice();
  });
  row->addWidget(untrackedText_, 1);
  row->addWidget(untrackedButton_, 0, Qt::AlignVCenter);
  layout->addWidget(untrackedNotice_);
  updateUntrackedNotice();
}

void TTransferListViewController::updateUntrackedNotice() {
  const auto folder = folderSettingPath(NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or(""));
  const bool untracked = folder && isDirectory(*folder) && !FolderIsIncluded(NSPrefs(), *folder);
  if (untracked) {
    untrackedText_->setText(QStringLiteral("Nothing in %1 is tracked: no include pattern matches it.")
                                .arg(QString::fromStdString(PathWithTilde(*folder))));
    untrackedButton_->setText(QStringLiteral("Track It"));
  } else if (!folder) {
    untrackedText_->setText(QStringLiteral("No folder is watched: choose one in Preferences."));
    untrackedButton_->setText(QStringLiteral("Choose…"));
  }
  // Why transfers wait comes before whether it is safe to shut down.
  const std::string& said = waitingFor_.empty() ? uploadsLine_ : waitingFor_;
  const bool saying = !untracked && folder && !said.empty();
  if (saying) untrackedText_->setText(QString::fromStdString(said));
  untrackedButton_->setVisible(!saying);
  untrackedNotice_->setVisible(untracked || !folder || saying);
}

void TTransferListViewController::updateICloudDiskUsageUI(const std::string& size) {
  NSPrefs().SetString(kPreferenceKeyICloudDiskUsage, size);
  diskStatusField_->setText(Short(size + " on disk"));
}

}  // namespace vantorel
