#include "units/fs/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "units/fs/AtomicFile.h"

namespace vantorel {

namespace {

std::string AbsoluteEnvironmentFolder(const char* name) {
  const char* value = std::getenv(name);
  // Relative values are invalid for the XDG variables and must be ignored.
  if (value == nullptr || value[0] != '/') return {};
  return value;
}

}  // namespace

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/";
}

std::string PathWithTilde(const std::string& path) {
  const std::string home = HomeDirectory();
  if (home.size() > 1 && path.compare(0, home.size(), home) == 0 &&
      (path.size() == home.size() || path[home.size()] == '/'))
    return "~" + path.substr(home.size());
  return path;
}

std::string ConfigHome() {
  std::string folder = AbsoluteEnvironmentFolder("XDG_CONFIG_HOME");
  return folder.empty() ? HomeDirectory() + "/.config" : folder;
}

std::string DataHome() {
  std::string folder = AbsoluteEnvironmentFolder("XDG_DATA_HOME");
  return folder.empty() ? HomeDirectory() + "/.local/share" : folder;
}

std::string CacheHome() {
  std::string folder = AbsoluteEnvironmentFolder("XDG_CACHE_HOME");
  return folder.empty() ? HomeDirectory() + "/.cache" : folder;
}

namespace {

// Reads one entry of user-dirs.dirs: lines like XDG_DOCUMENTS_DIR="$HOME/Documents".
std::string UserDirectory(const std::string& variable, const char* fallbackName) {
  // A settings file of a few lines; never a blocking or unbounded read.
  std::istringstream file(ReadWholeFile(ConfigHome() + "/user-dirs.dirs", nullptr, nullptr, 65536).value_or(""));
  std::string line;
  const std::string prefix = variable + "=\"";
  while (std::getline(file, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    const std::size_t end = line.rfind('"');
    if (end == std::string::npos || end < prefix.size()) break;
    std::string value = line.substr(prefix.size(), end - prefix.size());
    if (value.rfind("$HOME", 0) == 0)
      value = HomeDirectory() + value.substr(5);
    else if (value.empty() || value.front() != '/')
      break;  // only "$HOME/…" and absolute paths are valid there
    // "$HOME/" alone means the feature is switched off for this folder.
    if (value == HomeDirectory() || value == HomeDirectory() + "/") break;
    return value;
  }
  return HomeDirectory() + "/" + fallbackName;
}

}  // namespace

std::string DocumentsFolder() { return UserDirectory("XDG_DOCUMENTS_DIR", "Documents"); }

std::string DesktopFolder() { return UserDirectory("XDG_DESKTOP_DIR", "Desktop"); }

}  // namespace vantorel
