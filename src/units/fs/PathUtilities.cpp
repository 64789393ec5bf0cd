#include "units/fs/PathUtilities.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "units/fs/UserFolders.h"

namespace vantorel {

namespace {

std::string_view WithoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

std::string HomeOfUser(const std::string& user) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

}  // namespace

std::string_view lastPathComponentView(std::string_view path) {
  path = WithoutTrailingSlashes(path);
  if (path == "/") return path;
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parentPathView(std::string_view path) {
  path = WithoutTrailingSlashes(path);
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return path.substr(0, 1);
  return WithoutTrailingSlashes(path.substr(0, slash));
}

std::string_view pathExtensionView(std::string_view path) {
  const std::string_view name = lastPathComponentView(path);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

std::string lastPathComponent(std::string_view path) { return std::string(lastPathComponentView(path)); }

std::string stringByDeletingLastPathComponent(std::string_view path) { return std::string(parentPathView(path)); }

std::string pathExtension(std::string_view path) { return std::string(pathExtensionView(path)); }

std::string lastPathComponentWithoutExtension(std::string_view path) {
  const std::string name = lastPathComponent(path);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::string stringByAppendingPathComponent(std::string_view folder, std::string_view name) {
  std::string result(folder);
  if (!result.empty() && result.back() != '/') result += '/';
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  result += name;
  return result;
}

bool doesFileExist(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string fileURL(std::string_view path) {
  std::string expanded(path);
  if (!path.empty() && path.front() == '~') {
    const std::size_t slash = path.find('/');
    const std::string user(path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1));
    const std::string home = user.empty() ? HomeDirectory() : HomeOfUser(user);
    // An unknown user leaves the path as written, as a shell does.
    if (!home.empty())
      expanded = home + std::string(slash == std::string_view::npos ? std::string_view() : path.substr(slash));
  }
  if (expanded.empty() || expanded.front() != '/') expanded = stringByAppendingPathComponent(CurrentFolder(), expanded);
  return expanded;
}

std::optional<std::string> folderSettingPath(std::string_view setting) {
  while (setting.size() > 1 && setting.back() == '/') setting.remove_suffix(1);  // "~/Cloud/" is "~/Cloud"
  if (setting.empty() || (setting.front() != '/' && setting.front() != '~')) return std::nullopt;
  if (setting.front() == '/') return std::string(setting);
  const std::string expanded = fileURL(setting);
  // An unknown user is left as written, which fileURL then takes from the
  // current folder: the part before the rest of the setting holds the "~".
  const std::size_t slash = setting.find('/');
  const std::size_t rest = slash == std::string_view::npos ? 0 : setting.size() - slash;
  if (expanded.substr(0, expanded.size() - rest).find('~') != std::string::npos) return std::nullopt;
  return expanded;
}

bool comparePaths(const std::string& path, const std::optional<std::string>& other) {
  if (!other || path.empty() || other->empty()) return false;
  struct stat a {}, b {};
  if (::stat(path.c_str(), &a) != 0 || ::stat(other->c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string displayName(std::string_view path) { return lastPathComponent(path); }

std::optional<AbsoluteTime> metaData(const std::string& path, std::string_view key) {
  if (key != kMetadataKeyDateAdded || path.empty()) return std::nullopt;
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) != 0) return std::nullopt;
  const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
  return AbsoluteFromUnixTime(static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9);
}

}  // namespace vantorel
