#include "engine/TransferSets.h"

#include <algorithm>

namespace vantorel {

namespace {
bool Unused(const std::array<std::int32_t, TransferSets::kSetCount>& counts) {
  return std::all_of(counts.begin(), counts.end(), [](std::int32_t c) { return c == 0; });
}
}  // namespace

std::vector<std::string> TransferSets::Set::Paths(std::size_t limit) const {
  std::vector<std::string> paths;
  const auto size = static_cast<std::size_t>(Size());
  paths.reserve(limit == 0 ? size : std::min(limit, size));
  ForEach([&](const std::string& path) {
    paths.push_back(path);
    return limit == 0 || paths.size() < limit;
  });
  return paths;
}

std::vector<std::string> TransferSets::ChooseSlice(std::size_t limit) {
  std::vector<std::string> batch;
  if (sizes_[kTransfers] == 0) return batch;
  const auto fill = [&](bool skipPolled) {
    for (auto& [path, counts] : entries_) {
      if (counts[kTransfers] == 0 || (skipPolled && counts[kPolledTransfers] > 0)) continue;
      batch.push_back(path);
      if (counts[kPolledTransfers]++ == 0) ++sizes_[kPolledTransfers];
      if (limit > 0 && batch.size() >= limit) return;
    }
  };
  fill(true);
  if (batch.empty()) {
    Clear(kPolledTransfers);
    fill(false);
  }
  return batch;
}

void TransferSets::Add(SetIndex index, const std::string& path) {
  auto& counts = entries_[path];
  if (counts[index]++ == 0) ++sizes_[index];
}

void TransferSets::Remove(SetIndex index, const std::string& path) {
  auto it = entries_.find(path);
  if (it == entries_.end() || it->second[index] == 0) return;
  if (--it->second[index] == 0) {
    --sizes_[index];
    // No longer in progress: no longer a download in progress either.
    if (index == kTransfers && it->second[kDownloadsInProgress] > 0) {
      it->second[kDownloadsInProgress] = 0;
      --sizes_[kDownloadsInProgress];
    }
    if (Unused(it->second)) entries_.erase(it);
  }
}

int TransferSets::CountOf(SetIndex index, const std::string& path) const {
  auto it = entries_.find(path);
  return it == entries_.end() ? 0 : it->second[index];
}

void TransferSets::Clear(SetIndex index) {
  if (index == kTransfers) Clear(kDownloadsInProgress);
  if (sizes_[index] == 0) return;
  for (auto it = entries_.begin(); it != entries_.end();) {
    it->second[index] = 0;
    it = Unused(it->second) ? entries_.erase(it) : std::next(it);
  }
  sizes_[index] = 0;
}

}  // namespace vantorel
