#pragma once
// Where rclone mounts are and how to read them: the `fuse.rclone` lines of
// the mount table, and the rclone process serving each mount (its cache
// folder, whether its remote control is on). What the mount table and
// another process's arguments say is checked, never trusted: a mount point
// must be a plain absolute path, a process must be this user's, and no
// argument is kept but the few read here (never a password).
//
// Threads: free functions, no state.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct RcloneMount {
  std::string mountPoint;  // absolute, in its one spelling
  std::string remote;      // as mounted: "gdrive:" or "gdrive:Work/2026"
  std::string remoteName;  // "gdrive"
  std::string remotePath;  // "Work/2026"; empty at the remote's root
};

// The rclone mounts of a mount table in /proc/PID/mountinfo's form (octal
// escapes in the mount point decoded); malformed lines and mounts whose
// point or remote is not plain are left out; at most `most`.
std::vector<RcloneMount> ParseRcloneMounts(std::string_view mountinfo, std::size_t most = 256);

struct RcloneProcess {
  int pid = 0;           // 0 where not read from a running process
  std::string cacheDir;  // where its VFS cache lives
  bool remoteControl = false;
  std::string remoteControlAddress;  // "localhost:5572" unless told otherwise
  // It asks for a login (--rc-user, --rc-htpasswd): a password on another
  // process's command line is never taken, so it is not asked.
  bool remoteControlLogin = false;
};

// Whether `args` (a command line) is rclone mounting at `mountPoint`
// (relative arguments taken against `cwd`), and what it uses: the cache
// folder from --cache-dir, else RCLONE_CACHE_DIR, else XDG_CACHE_HOME's or
// HOME's ".cache" with "rclone" (`environment` is the process's own,
// "NAME=value" each); the remote control from --rc/--rc-addr or their
// RCLONE_ variables.
std::optional<RcloneProcess> ReadRcloneCommandLine(const std::vector<std::string>& args,
                                                   const std::vector<std::string>& environment,
                                                   const std::string& cwd, const std::string& mountPoint);

// The base URL of a remote control's address ("localhost:5572",
// "127.0.0.1:9", ":5572"), only on this machine's loopback; nothing for
// any other.
std::optional<std::string> RcloneRemoteControlUrl(const std::string& address);

// The process of this user's serving `mountPoint`, found under `procRoot`
// ("/proc"); nothing when there is none (or it is someone else's).
std::optional<RcloneProcess> FindRcloneProcess(const std::string& mountPoint, const std::string& procRoot = "/proc");

}  // namespace vantorel
