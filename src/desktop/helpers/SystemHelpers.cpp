#include "desktop/helpers/SystemHelpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "units/fs/AtomicFile.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/RegularExpressionUtilities.h"

extern char** environ;

namespace vantorel {

namespace {

// An argument as the Desktop Entry format wants it inside Exec: quoted, with
// the characters special inside quotes escaped, then the string value's own
// escaping of backslashes, and "%" doubled (it starts a field code).
std::string QuoteExecArgument(const std::string& argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string escaped;
  for (const char c : quoted) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '%') escaped += "%%";
    else escaped += c;
  }
  return escaped;
}

std::optional<std::string> ReadFile(const std::string& path) {
  // An autostart entry is a few lines: anything else there is not read whole.
  return ReadWholeFile(path, nullptr, nullptr, std::size_t{1} << 20);
}

// Replaces every byte that does not belong to a well-formed UTF-8 sequence
// with U+FFFD.
std::string ValidUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (c < 0x80) length = 1;
    else if ((c & 0xE0) == 0xC0) length = 2, lowest = 0x80;
    else if ((c & 0xF0) == 0xE0) length = 3, lowest = 0x800;
    else if ((c & 0xF8) == 0xF0) length = 4, lowest = 0x10000;
    bool ok = length > 0 && i + length <= bytes.size();
    std::uint32_t code = length == 1 ? c : (c & (0x7F >> length));
    for (std::size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      ok = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (ok && length > 1) ok = code >= lowest && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (ok) {
      out.append(bytes, i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string AutostartEntryPath() { return ConfigHome() + "/autostart/vantorel.desktop"; }

std::string AutostartEntryText(const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vantorel\n"
         "Comment=Shows the uploads and downloads of a synchronised folder\n"
         "Exec=" + QuoteExecArgument(executable) + "\n"
         "Icon=vantorel\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n"
         // A few seconds, so that the panel's tray is there to take the icon.
         "X-GNOME-Autostart-Delay=5\n";
}

std::optional<std::string> AutostartEntryProgram(const std::string& entryText) {
  std::istringstream lines(entryText);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Exec=", 0) != 0) continue;
    // Undo the string value's escaping, then take the first argument.
    std::string value;
    for (std::size_t i = 5; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        const char next = line[++i];
        value += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
      } else {
        value += line[i];
      }
    }
    std::string program;
    if (!value.empty() && value[0] == '"') {
      for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        program += value[i];
      }
    } else {
      program = value.substr(0, value.find(' '));
    }
    std::string unpercented;
    for (std::size_t i = 0; i < program.size(); ++i) {
      unpercented += program[i];
      if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') ++i;
    }
    return unpercented;
  }
  return std::nullopt;
}

std::optional<std::string> BuildFolderOf(const std::string& executable) {
  for (std::string folder = stringByDeletingLastPathComponent(executable); folder.size() > 1;
       folder = stringByDeletingLastPathComponent(folder)) {
    struct stat info {};
    if (::stat((folder + "/CMakeCache.txt").c_str(), &info) == 0) return folder;
  }
  return std::nullopt;
}

bool openAtLogin(bool open, const std::string& executable) {
  const std::string path = AutostartEntryPath();
  if (open) {
    // A build folder is rebuilt, moved and deleted: a login that starts
    // whatever was last built there, or fails on a missing file, is worse
    // than none.
    if (const auto build = BuildFolderOf(executable)) {
      static bool said = false;
      if (!std::exchange(said, true))
        WriteDiagnosticLine("Not opening Vantorel at login: " + executable + " is in the build folder " + *build +
                            "; only an installed vantorel is opened at login.");
      return false;
    }
    const bool existed = ::access(path.c_str(), F_OK) == 0;
    std::string error;
    const std::string folder = stringByDeletingLastPathComponent(path);
    if (!MakeDirectories(folder) || !WriteFileAtomically(path, AutostartEntryText(executable), &error)) {
      WriteDiagnosticLine("Cannot start Vantorel at login: cannot write " + path + " (" +
                          (error.empty() ? std::string(std::strerror(errno)) : error) + ").");
      return false;
    }
    if (!existed)
      WriteDiagnosticLine("Vantorel will open when you log in (" + path +
                          "); untick \"Open Vantorel when you log in\" in Preferences to stop it.");
    return true;
  }
  const auto text = ReadFile(path);
  if (!text) return true;  // nothing starts at login
  const auto program = AutostartEntryProgram(*text);
  // Ours: this executable, or a program called vantorel (the same one,
  // installed elsewhere since). Anything else is someone else's entry.
  if (!program || (*program != executable && lastPathComponent(*program) != "vantorel")) return true;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    WriteDiagnosticLine("Cannot stop Vantorel starting at login: cannot remove " + path + " (" +
                        std::strerror(errno) + ").");
    return false;
  }
  return true;
}

bool SoundOutputMayExist(const std::string& deviceFolder) {
  if (const char* server = std::getenv("PULSE_SERVER"); server != nullptr && *server != '\0') return true;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
    struct stat info {};
    for (const char* socket : {"/pulse/native", "/pipewire-0"})
      if (::stat((std::string(runtime) + socket).c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return true;
  }
  DIR* dir = ::opendir(deviceFolder.c_str());
  if (dir == nullptr) return false;
  bool playback = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.starts_with("pcm") && name.ends_with("p")) {  // pcmC0D0p: a playback device
      playback = true;
      break;
    }
  }
  ::closedir(dir);
  return playback;
}

std::string UserSoundsFolder() { return DataHome() + "/sounds"; }

std::vector<std::string> systemSounds() {
  std::vector<std::string> sounds;
  for (const std::string& folder : {std::string(kSystemSoundsFolder), UserSoundsFolder()}) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      sounds.push_back(folder + "/" + name);
    }
    ::closedir(dir);
  }
  // Listed by name, as a menu is read (the folder's order is the disk's).
  std::sort(sounds.begin(), sounds.end(), [](const std::string& a, const std::string& b) {
    return lastPathComponentWithoutExtension(a) < lastPathComponentWithoutExtension(b);
  });
  return sounds;
}

std::optional<std::string> SoundPathForName(const std::string& name) {
  for (const std::string& path : systemSounds())
    if (lastPathComponentWithoutExtension(path) == name) return path;
  return std::nullopt;
}

std::optional<bool> StoredInterfaceStyleIsDark(const TUserDefaults& prefs) {
  const auto value = prefs.ObjectForKey("AppleInterfaceStyle");
  if (!value) return std::nullopt;
  const std::string* text = value->AsString();
  return text != nullptr && strcasecmp(text->c_str(), "dark") == 0;
}

std::string execute(const std::vector<std::string>& argv) {
  if (argv.empty()) return {};
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int failed = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (failed != 0) {
    ::close(pipeFds[0]);
    return {};
  }
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // posix_spawnp reports a program it could not find through the child's
  // exit status 127 on some systems: it did not start.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && output.empty()) return {};
  return ValidUtf8(output);
}

std::optional<std::string> MeasureDiskUsage(const std::string& folder) {
  const std::string output = execute({"du", "-sh", "--", folder});
  CapturedTexts captures;
  if (!matchesWithExpression(output, R"(^\s*([a-zA-Z.0-9]+)\s+(.*))", 0, &captures) || captures.empty() || !captures[0])
    return std::nullopt;
  return *captures[0];
}

}  // namespace vantorel
