#pragma once
// The list of recently finished transfers, newest first, kept across runs in
// a property-list file (an array of paths).
//
// Threads: any. `listLock_` guards the list; `saveLock_` is held for a whole
// save, so saves never overlap and a save begun before a clear cannot write
// the old entries back. The file is registered as this process's own while
// it is the history, so its change events never come back as transfers.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class TransferHistory {
public:
  TransferHistory() = default;
  ~TransferHistory();
  TransferHistory(const TransferHistory&) = delete;
  TransferHistory& operator=(const TransferHistory&) = delete;

  // Reads the list kept at `path` (none, or a missing file: an empty list),
  // dropping items that no longer exist. A file that cannot be read is left
  // as it is and no history is kept this run (said in one line): better
  // none than a rewritten file that loses it.
  void Load(const std::optional<std::string>& path);
  // The list, or nothing when no history is kept this run.
  std::optional<std::vector<std::string>> Entries() const;
  // Puts `item` first (once), keeping at most `limit` entries (at least one).
  void Add(const std::string& item, std::int64_t limit);
  // Drops the items that no longer exist.
  void RemoveVanished();
  // Writes the list to `path`; false (and one line, until a save goes
  // through again) when it cannot.
  bool Save(const std::optional<std::string>& path);
  // Forgets every entry, in memory and in the file.
  bool Clear(const std::optional<std::string>& path);

private:
  mutable std::mutex listLock_;
  std::unique_ptr<std::vector<std::string>> entries_;  // guarded by listLock_; null: none kept
  std::mutex saveLock_;
  std::string registeredPath_;  // guarded by saveLock_
  bool saveFailing_ = false;    // guarded by saveLock_
};

}  // namespace vantorel
