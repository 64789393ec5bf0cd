#include "units/fs/FileObjectUtilities.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "units/fs/PathUtilities.h"

namespace vantorel {

const char* const kPackageExtensions[] = {
    "app",   "appex",    "bundle", "component",     "framework", "kext",      "mdimporter", "plugin",
    "prefpane", "qlgenerator", "saver", "xpc", "rtfd", "pages", "numbers", "key", "band", "logicx",
    "photoslibrary", "fcpbundle", "xcodeproj", "xcworkspace", "playground", nullptr,
};

namespace {

// True when `name` is a whole line of the ".hidden" file in `folder`.
bool IsListedInHiddenFile(const std::string& folder, std::string_view name) {
  const std::string listPath = stringByAppendingPathComponent(folder.empty() ? "." : folder, ".hidden");
  const int fd = ::open(listPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string content;
  char buffer[4096];
  ssize_t n;
  // A listing longer than a megabyte is not a hidden-names file.
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && content.size() < (1u << 20))
    content.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
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
