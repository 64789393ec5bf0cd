#include "engine/TrackingRules.h"

#include "engine/ItemStateSource.h"
#include "engine/TrackPathUtilities.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/RegularExpressionUtilities.h"

namespace vantorel {

bool TrackingRules::IsDropped(const std::string& path, const TrackerSettings& settings) const {
  // Placeholders are hidden files: with downloads tracked they pass.
  if (settings.ignoreHiddenFiles && isHidden(path) &&
      !(settings.trackIncomingDownloads && source_.IsDownloadFile(path)))
    return true;
  if (settings.ignoreSymbolicLinks && isSymbolicLink(path)) return true;
  return path.ends_with(".DS_Store");
}

bool TrackingRules::PassesFilters(const std::string& path, const TrackerSettings& settings) {
  // Every folder the client syncs is followed, not only the one chosen.
  return (AnyPatternMatches(settings.includePatterns, path) || source_.IsInClientFolder(path)) &&
         !AnyPatternMatches(settings.excludePatterns, path) && source_.IsTracked(path);
}

bool TrackingRules::FirstReportOf(const std::string& pattern) {
  std::lock_guard lock(lock_);
  return reported_.insert(pattern).second;
}

bool TrackingRules::AnyPatternMatches(const std::vector<std::string>& patterns, const std::string& path) {
  for (const std::string& pattern : patterns) {
    switch (matchExpression(path, pattern)) {
      case MatchOutcome::Matched: return true;
      case MatchOutcome::NotMatched: break;
      case MatchOutcome::Invalid:
        if (FirstReportOf(pattern))
          WriteDiagnosticLine("Ignoring the filter pattern \"" + pattern + "\": it is not a valid regular expression.");
        break;
      case MatchOutcome::TooCostly:
        // Counts as no match; said once, not for every path it chokes on.
        if (FirstReportOf(pattern))
          WriteDiagnosticLine("The filter pattern \"" + pattern +
                              "\" takes too long to match some paths; it counts as not matching them.");
        break;
    }
  }
  return false;
}

}  // namespace vantorel
