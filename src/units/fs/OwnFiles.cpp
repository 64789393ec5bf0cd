#include "units/fs/OwnFiles.h"

#include <sys/stat.h>

#include <mutex>
#include <string_view>
#include <vector>

namespace vantorel {

namespace {

struct OwnFile {
  std::string path;
  std::string folder;
  std::string name;
};

std::mutex gMutex;  // guards gFiles
// A file registered twice stays until it is unregistered twice.
std::vector<OwnFile> gFiles;

// Splits "folder/name" (trailing slashes ignored).
void Split(std::string_view path, std::string_view& folder, std::string_view& name) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.find_last_of('/');
  folder = slash == std::string_view::npos ? std::string_view(".") : path.substr(0, slash == 0 ? 1 : slash);
  name = slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The name itself, or ".name.XXXXXX": the temporary file through which an
// atomic replacement of it goes.
bool NamesIt(std::string_view candidate, const std::string& name) {
  if (candidate == name) return true;
  return candidate.size() == name.size() + 8 && candidate[0] == '.' && candidate.substr(1, name.size()) == name &&
         candidate[name.size() + 1] == '.';
}

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

void RegisterOwnFile(const std::string& path) {
  std::string_view folder, name;
  Split(path, folder, name);
  std::lock_guard lock(gMutex);
  gFiles.push_back(OwnFile{path, std::string(folder), std::string(name)});
}

void UnregisterOwnFile(const std::string& path) {
  std::lock_guard lock(gMutex);
  for (auto it = gFiles.begin(); it != gFiles.end(); ++it) {
    if (it->path == path) {
      gFiles.erase(it);
      return;
    }
  }
}

bool IsOwnFile(const std::string& path) {
  std::lock_guard lock(gMutex);
  if (gFiles.empty()) return false;
  std::string_view folder, name;
  Split(path, folder, name);
  for (const OwnFile& own : gFiles) {
    if (!NamesIt(name, own.name)) continue;
    // The same folder however it is spelled (through a link, with a trailing
    // "/"): only the file system can tell. Asked only when the name fits.
    if (folder == own.folder || SameFolder(std::string(folder), own.folder)) return true;
  }
  return false;
}

}  // namespace vantorel
