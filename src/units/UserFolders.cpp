#include "units/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

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

std::string ConfigHome() {
  std::string folder = AbsoluteEnvironmentFolder("XDG_CONFIG_HOME");
  return folder.empty() ? HomeDirectory() + "/.config" : folder;
}

std::string DataHome() {
  std::string folder = AbsoluteEnvironmentFolder("XDG_DATA_HOME");
  return folder.empty() ? HomeDirectory() + "/.local/share" : folder;
}

}  // namespace vantorel
