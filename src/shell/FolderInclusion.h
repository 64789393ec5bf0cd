#pragma once

// What is tracked is decided by the include patterns; a folder the user
// picks that none of them matches (a sync client's folder, say) would stay
// silent. These functions find that out and mend it with one pattern that
// matches exactly the chosen folder's tree.

#include <string>

namespace vantorel {

class TUserDefaults;

// The include pattern that matches FOLDER and everything below it, and
// nothing else: the path escaped, anchored, compared case by case.
std::string IncludePatternForFolder(const std::string& folder);

// Whether any stored include pattern matches FOLDER's tree.
bool FolderIsIncluded(const TUserDefaults& prefs, const std::string& folder);

// For a folder the user has just chosen: when no include pattern matches it,
// adds the one above, says so in one line, and returns true. A path too long
// for a pattern is said and left alone.
bool IncludeChosenFolder(TUserDefaults& prefs, const std::string& folder);

}  // namespace vantorel
