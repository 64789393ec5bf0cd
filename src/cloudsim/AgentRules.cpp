#include "cloudsim/AgentRules.h"

#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <array>

#include "units/fs/SyncAttributes.h"

namespace vantorel::agent {

namespace {
// Document and application packages as a sync daemon treats them.
constexpr std::array<std::string_view, 23> kPackageExtensions = {
    "app",  "appex",  "bundle", "component", "framework", "kext",  "mdimporter",    "plugin",
    "prefpane", "qlgenerator", "saver", "xpc", "rtfd", "pages", "numbers", "key", "band", "logicx",
    "photoslibrary", "fcpbundle", "xcodeproj", "xcworkspace", "playground"};

std::string_view NameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
}  // namespace

bool IsPackageFolder(const std::string& path) {
  const std::string_view name = NameOf(path);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return false;
  const std::string_view extension = name.substr(dot + 1);
  bool known = false;
  for (const std::string_view candidate : kPackageExtensions)
    known = known || (candidate.size() == extension.size() &&
                      ::strncasecmp(candidate.data(), extension.data(), extension.size()) == 0);
  struct stat st {};
  return known && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string PlaceholderOf(std::string_view item) {
  const std::size_t slash = item.find_last_of('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : item.substr(0, slash + 1);
  return std::string(folder) + std::string(kPlaceholderPrefix) + std::string(NameOf(item)) +
         std::string(kPlaceholderSuffix);
}

bool IsMarked(const std::string& path, const char* attribute) {
  char value[64];
  const ssize_t n = ::lgetxattr(path.c_str(), attribute, value, sizeof value);
  return n >= 0 && SyncAttributeIsTrue(std::string_view(value, static_cast<std::size_t>(n)));
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string Describe(const std::string& path) {
  std::string text = std::string(NameOf(path)) + ":";
  std::string names(65536, '\0');
  const ssize_t length = ::llistxattr(path.c_str(), names.data(), names.size());
  bool any = false;
  for (std::size_t at = 0; length > 0 && at < static_cast<std::size_t>(length);) {
    const std::string name(names.c_str() + at);
    at += name.size() + 1;
    if (name.rfind("user.ubiquity.", 0) != 0) continue;
    char value[256];
    const ssize_t n = ::lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
    text += "\n    " + name.substr(14) + " = " + (n >= 0 ? std::string(value, static_cast<std::size_t>(n)) : "?");
    any = true;
  }
  if (!any) text += "\n    (no sync attributes)";
  return text;
}

}  // namespace vantorel::agent
