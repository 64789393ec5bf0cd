#include "desktop/windows/FilterListModel.h"

#include <QApplication>
#include <QStyle>

#include "units/prefs/UserDefaults.h"
#include "units/text/RegularExpressionUtilities.h"

namespace vantorel {

FilterListModel::FilterListModel(std::string key, QObject* parent) : QAbstractListModel(parent), key_(std::move(key)) {
  Reload();
}

void FilterListModel::Reload() {
  QStringList stored;
  // A value of the wrong type shows as an empty list, and is not rewritten.
  for (const std::string& pattern : NSPrefs().GetStringArray(key_).value_or(std::vector<std::string>{}))
    stored.append(QString::fromStdString(pattern));
  // The echo of this model's own store changes nothing: resetting would
  // close the editor a new "untitled" row was just put into.
  QStringList shown = patterns_;
  if (draftRow_ >= 0) shown.removeAt(draftRow_);
  if (stored == shown) return;
  beginResetModel();
  patterns_ = std::move(stored);
  draftRow_ = -1;  // the list changed elsewhere: the draft goes with the old rows
  endResetModel();
}

int FilterListModel::AddUntitled() {
  EditingEnded();
  const int row = static_cast<int>(patterns_.size());
  beginInsertRows(QModelIndex(), row, row);
  patterns_.append(QStringLiteral("untitled"));
  endInsertRows();
  draftRow_ = row;  // shown, not stored
  return row;
}

void FilterListModel::EditingEnded() {
  if (draftRow_ < 0) return;
  const int row = draftRow_;
  draftRow_ = -1;
  beginRemoveRows(QModelIndex(), row, row);
  patterns_.removeAt(row);
  endRemoveRows();
}

void FilterListModel::RemoveRow(int row) {
  if (row < 0 || row >= patterns_.size()) return;
  if (row == draftRow_) {
    EditingEnded();
    return;
  }
  if (draftRow_ > row) --draftRow_;
  beginRemoveRows(QModelIndex(), row, row);
  patterns_.removeAt(row);
  endRemoveRows();
  Store();
}

int FilterListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(patterns_.size());
}

QVariant FilterListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= patterns_.size()) return {};
  const QString& pattern = patterns_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return pattern;
    case Qt::DecorationRole:
      if (!isValidExpression(pattern.toStdString()))
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
      return {};
    case Qt::ToolTipRole:
      if (!isValidExpression(pattern.toStdString()))
        return QStringLiteral("Not a valid regular expression: it matches nothing.");
      return {};
    default:
      return {};
  }
}

bool FilterListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.row() >= patterns_.size()) return false;
  const QString pattern = value.toString();
  if (index.row() == draftRow_) {
    // The draft's own text committed unchanged is no pattern of the user's.
    if (pattern.isEmpty() || pattern == patterns_[index.row()]) return false;
    draftRow_ = -1;
  } else if (pattern.isEmpty()) {
    RemoveRow(index.row());
    return true;
  }
  patterns_[index.row()] = pattern;
  Store();
  emit dataChanged(index, index);
  return true;
}

Qt::ItemFlags FilterListModel::flags(const QModelIndex& index) const {
  return QAbstractListModel::flags(index) | Qt::ItemIsEditable;
}

void FilterListModel::Store() {
  std::vector<std::string> patterns;
  for (int row = 0; row < patterns_.size(); ++row)
    if (row != draftRow_) patterns.push_back(patterns_[row].toStdString());
  NSPrefs().SetStringArray(key_, patterns);
}

}  // namespace vantorel
