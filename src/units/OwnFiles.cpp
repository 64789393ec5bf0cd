#include "units/OwnFiles.h"

#include <mutex>
#include <set>

namespace vantorel {

namespace {
std::mutex gMutex;  // guards gFiles
std::multiset<std::string> gFiles;
}  // namespace

void RegisterOwnFile(const std::string& path) {
  std::lock_guard lock(gMutex);
  gFiles.insert(path);
}

void UnregisterOwnFile(const std::string& path) {
  std::lock_guard lock(gMutex);
  auto it = gFiles.find(path);
  if (it != gFiles.end()) gFiles.erase(it);
}

bool IsOwnFile(const std::string& path) {
  std::lock_guard lock(gMutex);
  if (gFiles.empty()) return false;
  if (gFiles.count(path)) return true;
  // A temporary file of an atomic replacement: ".name." plus six characters.
  const std::size_t slash = path.find_last_of('/');
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.size() < 9 || name[0] != '.') return false;
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return gFiles.count(folder + name.substr(1, name.size() - 8)) != 0 && name[name.size() - 7] == '.';
}

}  // namespace vantorel
