#include "desktop/popover/HelpArticles.h"

#include "units/fs/AtomicFile.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PropertyListIO.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

std::string HelpListCachePath() { return CacheHome() + "/vantorel/com.quellmark.help.plist"; }

bool SaveHelpList(std::string_view bytes) {
  const std::string path = HelpListCachePath();
  const std::string folder = path.substr(0, path.find_last_of('/'));
  std::string error;
  if (MakeDirectories(folder) && WriteFileAtomically(path, bytes, &error)) return true;
  // Said once a run: the menu asks again at every opening.
  static bool told = false;
  if (!told)
    WriteDiagnosticLine("Cannot keep the help articles in " + folder + ": " +
                        (error.empty() ? std::string("the folder cannot be made") : error) + ".");
  told = true;
  return false;
}

std::optional<std::vector<HelpArticle>> ReadHelpArticles(const std::string& path) {
  const PlistReadResult read = ReadPropertyListFile(path);
  if (read.status != PlistReadResult::Status::Ok) return std::nullopt;
  const auto* list = read.value.AsArray();
  if (list == nullptr) return std::nullopt;
  std::vector<HelpArticle> articles;
  for (const PlistValue& element : *list) {
    const auto* entry = element.AsDictionary();
    if (entry == nullptr) continue;
    const auto text = [entry](const char* key) -> const std::string* {
      auto it = entry->find(key);
      return it == entry->end() ? nullptr : it->second.AsString();
    };
    const std::string* title = text("title");
    const std::string* link = text("link");
    if (title == nullptr || link == nullptr) continue;
    const std::string* excerpt = text("excerpt");
    articles.push_back({*title, excerpt ? *excerpt : std::string(), *link});
  }
  return articles;
}

}  // namespace vantorel
