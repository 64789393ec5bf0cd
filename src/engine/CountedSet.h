#pragma once
// A multiset of paths: adding raises a path's count, removing lowers it, and
// the size is the number of distinct paths.

#include <string>
#include <unordered_map>
#include <vector>

namespace vantorel {

class CountedSet {
public:
  void Add(const std::string& path) { ++counts_[path]; }
  void Remove(const std::string& path) {
    auto it = counts_.find(path);
    if (it != counts_.end() && --it->second <= 0) counts_.erase(it);
  }
  bool Contains(const std::string& path) const { return counts_.count(path) != 0; }
  int CountOf(const std::string& path) const {
    auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
  }
  int Size() const { return static_cast<int>(counts_.size()); }
  bool Empty() const { return counts_.empty(); }
  void Clear() { counts_.clear(); }
  // The distinct paths, in no defined order.
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    paths.reserve(counts_.size());
    for (const auto& [path, count] : counts_) paths.push_back(path);
    return paths;
  }

private:
  std::unordered_map<std::string, int> counts_;
};

}  // namespace vantorel
