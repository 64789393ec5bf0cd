#include "engine/TrackPathUtilities.h"

#include <sys/stat.h>

#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {

// Walks the folders above `path` (never the root) until `test` holds. The
// walk is over views of the path: the tracker runs it for every queued path.
template <typename Test>
bool AnyAncestor(std::string_view path, Test test) {
  std::string_view current = parentPathView(path);
  while (current.size() > 1) {
    if (test(current)) return true;
    current = parentPathView(current);
  }
  return false;
}

}  // namespace

bool isSymbolicLink(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool doesFileContainBytes(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool isImplicitlyPackaged(std::string_view path) {
  return AnyAncestor(path, [](std::string_view folder) {
    const std::string_view extension = pathExtensionView(folder);
    return extension == "framework" || extension == "bundle";
  });
}

bool isFilePackaged(std::string_view path) {
  // The extension is looked at first so that only likely packages cost a stat.
  return AnyAncestor(path, [](std::string_view folder) {
    return hasPackageExtension(folder) && isDirectory(std::string(folder));
  });
}

}  // namespace vantorel
