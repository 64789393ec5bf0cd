#pragma once
// Which changed paths the tracker looks at: hidden items, links and
// ".DS_Store" are left out as the settings say (a download's placeholder is
// hidden, yet passes while downloads are tracked), and a path is tracked
// when an include pattern matches it, no exclude pattern does and the sync
// client takes part in syncing it.
//
// Threads: any (the poll thread, and the main thread for a scan's results);
// a pattern that is not valid or too costly is said once, under `lock_`.

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/TrackerSettings.h"

namespace vantorel {

class ItemStateSource;

class TrackingRules {
public:
  explicit TrackingRules(ItemStateSource& source) : source_(source) {}

  // Whether a queued path is left out before it is examined.
  bool IsDropped(const std::string& path, const TrackerSettings& settings) const;
  // Include patterns, then exclude patterns, then whether the sync client
  // takes part in syncing the item at all.
  bool PassesFilters(const std::string& path, const TrackerSettings& settings);

private:
  bool AnyPatternMatches(const std::vector<std::string>& patterns, const std::string& path);
  // True the first time a pattern is reported, false after.
  bool FirstReportOf(const std::string& pattern);

  ItemStateSource& source_;
  std::mutex lock_;
  std::set<std::string> reported_;  // guarded by lock_
};

}  // namespace vantorel
