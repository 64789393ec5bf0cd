#include "units/fs/PathSafety.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vantorel {

namespace {

bool HasControlByte(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

// Every component between slashes is a real name.
bool ComponentsArePlain(std::string_view path) {
  for (;;) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

// Folders of the system: never a client's root, nor anything under them.
constexpr std::string_view kSystemTrees[] = {"/proc", "/sys",  "/dev",  "/run",   "/etc",    "/usr",
                                             "/boot", "/bin",  "/sbin", "/lib",   "/lib32",  "/lib64",
                                             "/libx32", "/var/lib", "/var/log", "/var/cache", "/var/spool"};
// Shared folders that hold other users' things: not a root themselves.
constexpr std::string_view kSharedFolders[] = {"/home", "/tmp", "/var", "/var/tmp", "/mnt", "/media", "/srv", "/opt"};

}  // namespace

bool IsPlainRelativePath(std::string_view path) {
  return !path.empty() && path.front() != '/' && !HasControlByte(path) && ComponentsArePlain(path);
}

bool IsPlainAbsolutePath(std::string_view path) {
  if (path.empty() || path.front() != '/' || HasControlByte(path)) return false;
  return path == "/" || ComponentsArePlain(path.substr(1));
}

bool IsWithinFolder(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

std::optional<std::string> WhyNotASyncRoot(std::string_view root) {
  if (!IsPlainAbsolutePath(root)) return std::string("it is not a plain absolute path");
  if (root == "/") return std::string("it is the whole file system");
  for (const std::string_view tree : kSystemTrees)
    if (IsWithinFolder(root, tree)) return "it is a system folder (" + std::string(tree) + ")";
  for (const std::string_view shared : kSharedFolders)
    if (root == shared) return std::string("it is a folder shared by every user");
  struct stat st {};
  const std::string path(root);
  // A root that does not exist yet passes: the watcher waits for it to
  // appear, as it does for the user's own folder.
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISDIR(st.st_mode)) return std::string("it is not a folder");
  if (st.st_uid != ::geteuid()) return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  return std::nullopt;
}

}  // namespace vantorel
