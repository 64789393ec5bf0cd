#pragma once
// One filter list ("IncludePatterns" or "ExcludePatterns") as a list model:
// the stored strings, edited in place and stored at once. A pattern that is
// not a valid regular expression carries a warning and the reason (it is
// stored as entered all the same). A new row is a draft until it is given a
// pattern of its own: its "untitled" is never stored, and a draft whose
// editing ends without one (Escape, or left empty or as it was) goes again.
// A row edited to nothing is removed (an empty pattern matches every path).

#include <QAbstractListModel>
#include <QStringList>

#include <string>

namespace vantorel {

class FilterListModel : public QAbstractListModel {
public:
  FilterListModel(std::string key, QObject* parent = nullptr);

  // Reads the list again (after a change by another process).
  void Reload();
  // Appends the draft row, "untitled" (a previous draft goes); returns its row.
  int AddUntitled();
  // The editing of a row has ended: a draft still without a pattern goes.
  void EditingEnded();
  // Removes the row; nothing for -1.
  void RemoveRow(int row);
  QStringList Patterns() const { return patterns_; }
  int DraftRow() const { return draftRow_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
  void Store();

  std::string key_;
  QStringList patterns_;
  int draftRow_ = -1;  // the new row not yet given a pattern, or -1
};

}  // namespace vantorel
