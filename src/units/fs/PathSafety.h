#pragma once
// Which paths handed over by another program (a sync client) can be
// trusted: names that stay inside the folder they are given for, and
// folders that may be watched as a client's synchronised root. A client
// may lie or be broken; what fails these rules is refused, never repaired.
//
// Threads: free functions, no state.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

// A name relative to a folder that cannot step out of it: not empty, not
// absolute, no empty, "." or ".." component, no control byte (NUL, line
// breaks and the rest below 0x20, and 0x7f).
bool IsPlainRelativePath(std::string_view path);

// An absolute path in its one spelling: "/" or "/a/b", no empty, "." or
// ".." component, no trailing slash, no control byte.
bool IsPlainAbsolutePath(std::string_view path);

// `path` is `folder` or inside it; both plain absolute paths (compared by
// components, so "/a/bc" is not inside "/a/b").
bool IsWithinFolder(std::string_view path, std::string_view folder);

// Why a client's folder may not be watched as a synchronised root, or
// nothing when it may: it must be a plain absolute path, not "/", not a
// system folder ("/proc", "/etc", "/usr" and what is under them; "/home",
// "/tmp" themselves), and, when it exists, a folder of this user's own.
std::optional<std::string> WhyNotASyncRoot(std::string_view root);

// Folders all synchronised roots together may make the watcher watch.
inline constexpr std::size_t kMostFoldersInSyncRoots = 50000;

}  // namespace vantorel
