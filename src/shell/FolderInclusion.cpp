#include "shell/FolderInclusion.h"

#include <vector>

#include "units/prefs/PreferenceKeys.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/RegularExpressionUtilities.h"

namespace vantorel {

namespace {

// Longer expressions are cut by the matcher, which would change their meaning.
constexpr std::size_t kLongestPattern = 255;

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

std::string IncludePatternForFolder(const std::string& folder) {
  // Patterns are compared without regard to case; "(?-i)" turns that off so
  // that a sibling differing only in case is not taken in.
  std::string pattern = "(?-i)^";
  for (const char c : WithoutTrailingSlashes(folder)) {
    if (std::string_view("\\^$.|?*+()[]{}#").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "(/|$)";
}

bool FolderIsIncluded(const TUserDefaults& prefs, const std::string& folder) {
  const std::string tree = WithoutTrailingSlashes(folder) + "/";
  for (const std::string& pattern : prefs.GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{}))
    if (matchExpression(tree, pattern) == MatchOutcome::Matched) return true;
  return false;
}

bool IncludeChosenFolder(TUserDefaults& prefs, const std::string& folder) {
  if (folder.empty() || FolderIsIncluded(prefs, folder)) return false;
  const std::string pattern = IncludePatternForFolder(folder);
  if (pattern.size() > kLongestPattern) {
    WriteDiagnosticLine("No include pattern matches " + folder +
                        " and its path is too long for one, so nothing there is tracked.");
    return false;
  }
  auto patterns = prefs.GetStringArray(kPreferenceKeyIncludePatterns).value_or(std::vector<std::string>{});
  patterns.push_back(pattern);
  prefs.SetStringArray(kPreferenceKeyIncludePatterns, patterns);
  WriteDiagnosticLine("Added the include pattern " + pattern + " so that what changes in " + folder +
                      " is tracked.");
  return true;
}

}  // namespace vantorel
