#include "units/fs/FileObjectUtilities.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstring>

#include "units/fs/AtomicFile.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

const char* const kPackageExtensions[] = {
    "app",   "appex",    "bundle", "component",     "framework", "kext",      "mdimporter", "plugin",
    "prefpane", "qlgenerator", "saver", "xpc", "rtfd", "pages", "numbers", "key", "band", "logicx",
    "photoslibrary", "fcpbundle", "xcodeproj", "xcworkspace", "playground", nullptr,
};

namespace {

// True when `name` is a whole line of the ".hidden" file in `folder`. Anyone
// who shares the folder can put anything there: only a regular file of up to
// a megabyte is read, and never with a blocking open (a FIFO would hold the
// caller until somebody wrote to it).
bool IsListedInHiddenFile(const std::string& folder, std::string_view name) {
  constexpr std::size_t kLargestHiddenList = std::size_t{1} << 20;
  const std::string listPath = stringByAppendingPathComponent(folder.empty() ? "." : folder, ".hidden");
  const auto read = ReadWholeFile(listPath, nullptr, nullptr, kLargestHiddenList);
  if (!read) return false;
  const std::string& content = *read;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == name) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool isHidden(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
  const std::string_view name = lastPathComponentView(path);
  if (!name.empty() && name.front() == '.') return true;
  return IsListedInHiddenFile(std::string(parentPathView(path)), name);
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
