#include "units/fs/FileObjectUtilities.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>

#include "units/fs/AtomicFile.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

const char* const kPackageExtensions[] = {
    "app",   "appex",    "bundle", "component",     "framework", "kext",      "mdimporter", "plugin",
    "prefpane", "qlgenerator", "saver", "xpc", "rtfd", "pages", "numbers", "key", "band", "logicx",
    "photoslibrary", "fcpbundle", "xcodeproj", "xcworkspace", "playground", nullptr,
};

namespace {

// The ".hidden" list of `folder`. Anyone who shares the folder can put
// anything there: only a regular file of up to a megabyte is read, and never
// with a blocking open (a FIFO would hold the caller until somebody wrote to
// it).
std::optional<std::string> ReadHiddenList(const std::string& folder) {
  constexpr std::size_t kLargestHiddenList = std::size_t{1} << 20;
  const std::string listPath = stringByAppendingPathComponent(folder.empty() ? "." : folder, ".hidden");
  return ReadWholeFile(listPath, nullptr, nullptr, kLargestHiddenList);
}

// Calls `each` with every line of the list until it returns true.
template <typename Each>
bool AnyListedName(const std::string& content, Each each) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (each(line)) return true;
    start = end + 1;
  }
  return false;
}

// True when `name` is a whole line of the ".hidden" file in `folder`.
bool IsListedInHiddenFile(const std::string& folder, std::string_view name) {
  const auto read = ReadHiddenList(folder);
  return read && AnyListedName(*read, [name](std::string_view line) { return line == name; });
}

}  // namespace

bool isHidden(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  const std::string_view name = lastPathComponentView(path);
  if (!name.empty() && name.front() == '.') return true;
  return IsListedInHiddenFile(std::string(parentPathView(path)), name);
}

std::unordered_set<std::string> HiddenNamesIn(const std::string& folder) {
  std::unordered_set<std::string> names;
  if (const auto read = ReadHiddenList(folder))
    AnyListedName(*read, [&names](std::string_view line) {
      if (!line.empty()) names.emplace(line);
      return false;
    });
  return names;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool hasPackageExtension(std::string_view path) {
  const std::string_view extension = pathExtensionView(path);
  if (extension.empty()) return false;
  for (const char* const* known = kPackageExtensions; *known != nullptr; ++known)
    if (std::strlen(*known) == extension.size() && strncasecmp(extension.data(), *known, extension.size()) == 0)
      return true;
  return false;
}

bool isPackage(const std::string& path) { return hasPackageExtension(path) && isDirectory(path); }

FSRef fsRef(const std::string& path) {
  FSRef ref;
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return ref;
  ref.valid = true;
  ref.device = st.st_dev;
  ref.inode = st.st_ino;
  ref.path = path;
  return ref;
}

}  // namespace vantorel
