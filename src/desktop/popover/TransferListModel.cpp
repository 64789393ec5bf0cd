#include "desktop/popover/TransferListModel.h"

#include "desktop/helpers/WidgetHelpers.h"
#include "desktop/popover/FileIcons.h"
#include "desktop/popover/RowFacts.h"

namespace vantorel {

TransferListModel::TransferListModel(Kind kind, QObject* parent) : QAbstractListModel(parent), kind_(kind) {}

void TransferListModel::SetPaths(std::vector<std::string> paths) {
  beginResetModel();
  paths_ = std::move(paths);
  rows_.assign(paths_.size(), std::nullopt);
  rowsRead_ = 0;
  endResetModel();
}

void TransferListModel::Refresh(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, rowCount() - 1);
  if (first > last) return;
  for (int row = first; row <= last; ++row) rows_[static_cast<std::size_t>(row)].reset();
  emit dataChanged(index(first), index(last));
}

int TransferListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(paths_.size());
}

const TransferListModel::Row& TransferListModel::Read(int row) const {
  auto& slot = rows_[static_cast<std::size_t>(row)];
  if (slot) return *slot;
  const std::string& path = paths_[static_cast<std::size_t>(row)];
  const std::optional<std::string> item =
      kind_ == Kind::Transfers && itemOf_ ? itemOf_(path) : std::optional<std::string>();
  RowContext context{watchedFolder_, std::nullopt, kind_ == Kind::Transfers && waiting_};
  // A download's percentage may sit on its placeholder or on the item.
  if (kind_ == Kind::Transfers && percentOf_) context.percent = percentOf_(path);
  if (kind_ == Kind::Transfers && percentOf_ && item && !context.percent) context.percent = percentOf_(*item);
  const std::optional<std::string> failure =
      kind_ == Kind::Transfers && failureOf_ ? failureOf_(path) : std::optional<std::string>();
  const RowFacts facts = failure                     ? FailedRowFacts(path, *failure)
                         : item                      ? DownloadRowFacts(path, *item, context)
                         : kind_ == Kind::Transfers ? TransferRowFacts(path, context)
                                                    : RecentRowFacts(path, context);
  Row read;
  read.exists = facts.exists;
  read.failed = failure.has_value();
  // Names that are not UTF-8 show replacement characters; the path keeps
  // the real bytes for every action.
  read.name = QString::fromUtf8(facts.name.data(), static_cast<qsizetype>(facts.name.size()));
  read.secondary = QString::fromStdString(facts.secondary);
  read.complete = kind_ == Kind::Transfers && facts.exists && !read.failed && isComplete_ && isComplete_(path);
  // What the icon and the wheel say to the eye, said in words.
  const char* state = kind_ == Kind::Recents ? "finished"
                      : read.failed         ? "failed"
                      : !facts.exists       ? "gone"
                      : item                ? "downloading"
                      : read.complete       ? "done"
                                            : "uploading";
  read.spoken = QString::fromStdString(SpokenRow(facts.name, facts.secondary, state));
  if (!facts.exists)
    read.icon = UnknownFileImage();
  else
    read.icon = read.complete ? CheckImage() : FileIcon(item.value_or(path));
  ++rowsRead_;
  slot = std::move(read);
  return *slot;
}

QVariant TransferListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  if (role == PathRole) return QByteArray::fromStdString(paths_[static_cast<std::size_t>(row)]);
  switch (role) {
    case Qt::DisplayRole: return Read(row).name;
    case Qt::DecorationRole: return Read(row).icon;
    case Qt::ToolTipRole: return PlainToolTip(QString::fromUtf8(paths_[static_cast<std::size_t>(row)]));
    case SecondaryRole: return Read(row).secondary;
    case Qt::AccessibleTextRole: return Read(row).spoken;
    case ExistsRole: return Read(row).exists;
    case CompleteRole: return Read(row).complete;
    case FailedRole: return Read(row).failed;
    default: return {};
  }
}

}  // namespace vantorel
