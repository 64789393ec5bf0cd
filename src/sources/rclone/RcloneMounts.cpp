#include "sources/rclone/RcloneMounts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "units/fs/PathSafety.h"

namespace vantorel {

namespace {

// A process's command line or environment read at most this far.
constexpr std::size_t kLongestProcFile = 256 * 1024;

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t space = line.find(' ', at);
    const std::size_t end = space == std::string_view::npos ? line.size() : space;
    if (end > at) fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

// The kernel writes space, tab, newline and backslash in a mount point as
// three octal digits after a backslash.
std::optional<std::string> Unescaped(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (i + 3 >= field.size()) return std::nullopt;
    int value = 0;
    for (std::size_t k = 1; k <= 3; ++k) {
      const char c = field[i + k];
      if (c < '0' || c > '7') return std::nullopt;
      value = value * 8 + (c - '0');
    }
    if (value > 0xff) return std::nullopt;
    out += static_cast<char>(value);
    i += 3;
  }
  return out;
}

std::optional<RcloneMount> MountOf(std::string_view mountPointField, std::string_view source) {
  auto point = Unescaped(mountPointField);
  if (!point || !IsPlainAbsolutePath(*point) || *point == "/") return std::nullopt;
  const std::size_t colon = source.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;  // ":backend,...:" has no name of its own
  RcloneMount mount;
  mount.mountPoint = std::move(*point);
  mount.remote = std::string(source);
  mount.remoteName = std::string(source.substr(0, colon));
  std::string_view path = source.substr(colon + 1);
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  mount.remotePath = std::string(path);
  // The name and path become folders of the cache: nothing that could step
  // out of it.
  if (!IsPlainRelativePath(mount.remoteName) || mount.remoteName.find('/') != std::string::npos) return std::nullopt;
  if (!mount.remotePath.empty() && !IsPlainRelativePath(mount.remotePath)) return std::nullopt;
  return mount;
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kLongestProcFile) break;
  }
  ::close(fd);
  return text;
}

std::vector<std::string> SplitAtNul(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\0', at);
    parts.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return parts;
}

std::string Normal(const std::string& cwd, const std::string& path) {
  std::filesystem::path full = !path.empty() && path.front() == '/' ? std::filesystem::path(path)
                                                                    : std::filesystem::path(cwd) / path;
  std::string text = full.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool TrueFlag(std::string_view value) { return value.empty() || value == "true" || value == "1"; }

}  // namespace

std::vector<RcloneMount> ParseRcloneMounts(std::string_view mountinfo, std::size_t most) {
  std::vector<RcloneMount> mounts;
  std::size_t at = 0;
  while (at < mountinfo.size() && mounts.size() < most) {
    const std::size_t end = mountinfo.find('\n', at);
    const std::string_view line = mountinfo.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? mountinfo.size() : end + 1;
    // ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
    const auto fields = Fields(line);
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (fields.size() < 7 || dash + 2 >= fields.size()) continue;
    if (fields[dash + 1] != "fuse.rclone") continue;
    if (auto mount = MountOf(fields[4], fields[dash + 2])) mounts.push_back(std::move(*mount));
  }
  return mounts;
}

std::optional<RcloneProcess> ReadRcloneCommandLine(const std::vector<std::string>& args,
                                                   const std::vector<std::string>& environment,
                                                   const std::string& cwd, const std::string& mountPoint) {
  if (args.empty() || std::filesystem::path(args[0]).filename().string().find("rclone") == std::string::npos)
    return std::nullopt;
  bool mounting = false;
  bool here = false;
  RcloneProcess process;
  std::optional<std::string> cacheDir;
  std::optional<bool> rc;
  std::optional<std::string> rcAddress;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string_view flag) -> std::optional<std::string> {
      if (arg == flag && i + 1 < args.size()) return args[++i];
      if (arg.size() > flag.size() && arg.compare(0, flag.size(), flag) == 0 && arg[flag.size()] == '=')
        return arg.substr(flag.size() + 1);
      return std::nullopt;
    };
    if (auto dir = value("--cache-dir")) {
      cacheDir = *dir;
    } else if (auto address = value("--rc-addr")) {
      rcAddress = *address;
    } else if (value("--rc-user") || value("--rc-htpasswd")) {
      process.remoteControlLogin = true;
    } else if (arg == "--rc" || arg.rfind("--rc=", 0) == 0) {
      rc = TrueFlag(arg.size() > 5 ? std::string_view(arg).substr(5) : std::string_view());
    } else if (arg == "mount" || arg == "cmount") {
      mounting = true;
    } else if (!arg.empty() && arg.front() != '-' && mounting && Normal(cwd, arg) == mountPoint) {
      here = true;
    }
  }
  if (!mounting || !here) return std::nullopt;
  std::string xdgCache, home;
  for (const std::string& entry : environment) {
    const auto take = [&](std::string_view name) -> std::optional<std::string> {
      if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=')
        return entry.substr(name.size() + 1);
      return std::nullopt;
    };
    if (auto v = take("RCLONE_CACHE_DIR"); v && !cacheDir) cacheDir = *v;
    if (auto v = take("RCLONE_RC"); v && !rc) rc = TrueFlag(*v);
    if (auto v = take("RCLONE_RC_ADDR"); v && !rcAddress) rcAddress = *v;
    if (take("RCLONE_RC_USER") || take("RCLONE_RC_HTPASSWD")) process.remoteControlLogin = true;
    if (auto v = take("XDG_CACHE_HOME")) xdgCache = *v;
    if (auto v = take("HOME")) home = *v;
  }
  if (cacheDir) {
    process.cacheDir = Normal(cwd, *cacheDir);
  } else if (!xdgCache.empty() && xdgCache.front() == '/') {
    process.cacheDir = Normal("/", xdgCache + "/rclone");
  } else if (!home.empty() && home.front() == '/') {
    process.cacheDir = Normal("/", home + "/.cache/rclone");
  } else {
    return std::nullopt;  // nowhere known: its records cannot be read
  }
  if (!IsPlainAbsolutePath(process.cacheDir)) return std::nullopt;
  process.remoteControl = rc.value_or(false) || rcAddress.has_value();
  process.remoteControlAddress = rcAddress.value_or("localhost:5572");
  return process;
}

std::optional<std::string> RcloneRemoteControlUrl(const std::string& address) {
  const std::size_t colon = address.find_last_of(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
      std::stoi(port) == 0 || std::stoi(port) > 65535)
    return std::nullopt;
  if (host.empty() || host == "localhost") return "http://127.0.0.1:" + port;
  if (host == "[::1]") return "http://[::1]:" + port;
  // 127.0.0.0/8 in dotted form only.
  int parts = 0;
  std::size_t at = 0;
  while (at <= host.size()) {
    const std::size_t dot = std::min(host.find('.', at), host.size());
    const std::string part = host.substr(at, dot - at);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) ||
        std::stoi(part) > 255 || (parts == 0 && part != "127"))
      return std::nullopt;
    ++parts;
    at = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  return "http://" + host + ":" + port;
}

std::optional<RcloneProcess> FindRcloneProcess(const std::string& mountPoint, const std::string& procRoot) {
  DIR* dir = ::opendir(procRoot.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<RcloneProcess> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.size() > 9 || !std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    const std::string base = procRoot + "/" + pid;
    struct stat st {};
    // Another user's process says nothing here, whatever it claims.
    if (::stat(base.c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    const auto cmdline = ReadSmallFile(base + "/cmdline");
    if (!cmdline || cmdline->find("rclone") == std::string::npos) continue;
    const auto environ = ReadSmallFile(base + "/environ");
    std::error_code error;
    const std::string cwd = std::filesystem::read_symlink(base + "/cwd", error).string();
    found = ReadRcloneCommandLine(SplitAtNul(*cmdline), environ ? SplitAtNul(*environ) : std::vector<std::string>{},
                                  error ? std::string("/") : cwd, mountPoint);
    if (found) {
      found->pid = std::stoi(pid);
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace vantorel
