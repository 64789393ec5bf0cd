#pragma once
// One filter list ("IncludePatterns" or "ExcludePatterns") as a list model:
// the stored strings, edited in place and stored at once. A pattern that is
// not a valid regular expression carries a warning and the reason (it is
// stored as entered all the same).

#include <QAbstractListModel>
#include <QStringList>

#include <string>

namespace vantorel {

class FilterListModel : public QAbstractListModel {
public:
  FilterListModel(std::string key, QObject* parent = nullptr);

  // Reads the list again (after a change by another process).
  void Reload();
  // Appends "untitled"; returns its row.
  int AddUntitled();
  // Removes the row; nothing for -1.
  void RemoveRow(int row);
  QStringList Patterns() const { return patterns_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
  void Store();

  std::string key_;
  QStringList patterns_;
};

}  // namespace vantorel
