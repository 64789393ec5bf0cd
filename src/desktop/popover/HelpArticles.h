#pragma once
// The help center's article list: a property-list array of dictionaries
// with "title", "excerpt" and "link". It is kept in the user's own cache
// folder (a fixed name in the shared temporary folder would let another
// user plant a link or a crafted list there), written atomically.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct HelpArticle {
  std::string title;
  std::string excerpt;
  std::string link;
  bool operator==(const HelpArticle&) const = default;
};

// $XDG_CACHE_HOME/vantorel/com.quellmark.help.plist
std::string HelpListCachePath();

// Saves the downloaded list (as it came) to the cache; false when it cannot.
bool SaveHelpList(std::string_view bytes);

// The articles of the saved list, in list order. An element that is not a
// dictionary or lacks a string title or link is left out; a missing or
// non-string excerpt reads as empty. Nothing when the file is not a list.
std::optional<std::vector<HelpArticle>> ReadHelpArticles(const std::string& path);

}  // namespace vantorel
