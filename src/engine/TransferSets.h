#pragma once
// The tracker's counted sets of paths (in progress, the batch's total and
// completed items, received downloads, and those examined in the current
// cycle), kept in one table so that a path in several sets is stored once.
//
// Each set behaves as a multiset: adding raises a path's count, removing
// lowers it, the size is the number of distinct paths. A path whose counts
// are all zero leaves the table. The downloads in progress are a part of the
// transfers: a path that leaves the transfers leaves them too. Not
// thread-safe: the tracker guards it.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantorel {

class TransferSets {
public:
  enum SetIndex {
    kTransfers,
    kTotalTransfers,
    kCompletedTransfers,
    kCompletedDownloads,
    kPolledTransfers,
    kDownloadsInProgress,
    kSetCount
  };

  // One of the sets, with the interface of a counted set.
  class Set {
  public:
    void Add(const std::string& path) { owner_->Add(index_, path); }
    void Remove(const std::string& path) { owner_->Remove(index_, path); }
    bool Contains(const std::string& path) const { return owner_->CountOf(index_, path) > 0; }
    int Size() const { return owner_->sizes_[index_]; }
    bool Empty() const { return Size() == 0; }
    void Clear() { owner_->Clear(index_); }
    // The distinct paths, in no defined order; at most `limit` (0: all).
    std::vector<std::string> Paths(std::size_t limit = 0) const;
    // Calls `visit(path)` for each distinct path until it returns false.
    template <typename Visit>
    void ForEach(Visit visit) const {
      for (const auto& [path, entry] : owner_->entries_)
        if (entry[index_] > 0 && !visit(path)) return;
    }

  private:
    friend class TransferSets;
    Set(TransferSets* owner, SetIndex index) : owner_(owner), index_(index) {}
    TransferSets* owner_;
    SetIndex index_;
  };

  Set Get(SetIndex index) { return Set(this, index); }

  // The next slice of the polling cycle: up to `limit` paths in progress
  // that are not yet in the polled set (0: no limit), added to it. When every
  // path in progress has been polled, the polled set is emptied and a new
  // cycle begins.
  std::vector<std::string> ChooseSlice(std::size_t limit);

private:
  using Counts = std::array<std::int32_t, kSetCount>;
  void Add(SetIndex index, const std::string& path);
  void Remove(SetIndex index, const std::string& path);
  int CountOf(SetIndex index, const std::string& path) const;
  void Clear(SetIndex index);

  std::unordered_map<std::string, Counts> entries_;
  std::array<int, kSetCount> sizes_{};
};

}  // namespace vantorel
