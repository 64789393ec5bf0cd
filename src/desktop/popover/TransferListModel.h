#pragma once
// The rows of one of the popover's lists: a snapshot of paths, each row's
// name, second line and icon read from the file system only when the view
// asks for it (so only rows on screen cost a look at their file), and read
// again for the rows a refresh names. Main thread only.

#include <QAbstractListModel>
#include <QIcon>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class TransferListModel : public QAbstractListModel {
public:
  // Transfers show the size; recent transfers the date added.
  enum class Kind { Transfers, Recents };
  enum Role { PathRole = Qt::UserRole + 1, SecondaryRole, ExistsRole, CompleteRole, FailedRole };

  TransferListModel(Kind kind, QObject* parent);

  // Whether the transfer of a path is complete (the check image, no remove
  // button). Transfers only.
  void SetCompletionQuery(std::function<bool(const std::string&)> isComplete) { isComplete_ = std::move(isComplete); }
  // For a transfer row: the item a download's temporary file or placeholder
  // stands for (its row shows the item), nothing for any other path.
  void SetDownloadQuery(std::function<std::optional<std::string>(const std::string&)> itemOf) {
    itemOf_ = std::move(itemOf);
  }

  // The folder rows show their own folder relative to (read again at the
  // next SetPaths).
  void SetWatchedFolder(std::string folder) { watchedFolder_ = std::move(folder); }
  // For a transfer row: how far its item has come, where that is known.
  void SetPercentQuery(std::function<std::optional<double>(const std::string&)> percentOf) {
    percentOf_ = std::move(percentOf);
  }
  // For a transfer row: why the client gave up on it, when it did ("" when
  // it gave no reason); nothing for a transfer that did not fail.
  void SetFailureQuery(std::function<std::optional<std::string>(const std::string&)> failureOf) {
    failureOf_ = std::move(failureOf);
  }
  // Whether the transfers wait for their client (rows say so); rows are
  // read again at the next Refresh.
  void SetWaiting(bool waiting) { waiting_ = waiting; }

  void SetPaths(std::vector<std::string> paths);
  const std::vector<std::string>& Paths() const { return paths_; }
  const std::string& PathAt(int row) const { return paths_.at(static_cast<std::size_t>(row)); }

  // Rows first…last are read again when next shown.
  void Refresh(int first, int last);
  // How many rows have been read since the last SetPaths (tests, benchmark).
  int RowsRead() const { return rowsRead_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

private:
  struct Row {
    bool exists = false;
    bool complete = false;
    bool failed = false;
    QString name;
    QString secondary;
    QString spoken;  // the row as a screen reader reads it
    QIcon icon;
  };
  const Row& Read(int row) const;

  Kind kind_;
  std::function<bool(const std::string&)> isComplete_;
  std::function<std::optional<std::string>(const std::string&)> itemOf_;
  std::function<std::optional<double>(const std::string&)> percentOf_;
  std::function<std::optional<std::string>(const std::string&)> failureOf_;
  bool waiting_ = false;
  std::string watchedFolder_;
  std::vector<std::string> paths_;
  mutable std::vector<std::optional<Row>> rows_;
  mutable int rowsRead_ = 0;
};

}  // namespace vantorel
