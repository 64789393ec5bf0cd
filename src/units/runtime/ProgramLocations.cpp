#include "units/runtime/ProgramLocations.h"

#include <unistd.h>

namespace vantorel {

namespace {
// Written once by main before any thread starts; read-only afterwards.
std::string& StoredLauncherPath() {
  static std::string path;
  return path;
}
}  // namespace

std::string OwnExecutablePath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("vantorel");
}

void SetLauncherPath(std::string path) { StoredLauncherPath() = std::move(path); }

std::string LauncherPath() {
  const std::string& stored = StoredLauncherPath();
  return stored.empty() ? OwnExecutablePath() : stored;
}

std::string LauncherFolder() {
  const std::string path = LauncherPath();
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string FaceExecutablePath(const std::string& name) {
  const std::string folder = LauncherFolder();
  for (const std::string& candidate : {folder + name, folder + "../libexec/vantorel/" + name})
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  return {};
}

}  // namespace vantorel
