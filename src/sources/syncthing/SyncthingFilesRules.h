#pragma once
// What SyncthingFiles' two files share (SyncthingFiles.cpp: folders,
// needs, answers and the bounded table; SyncthingFilesEvents.cpp: the
// rules for each event). Private to them.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "units/fs/PathSafety.h"

namespace vantorel::syncthing_files {

// Errors of one event named one by one; the rest are counted.
inline constexpr std::size_t kErrorsNamed = 3;

inline bool IsUnder(const std::string& path, const std::string& root) { return IsWithinFolder(path, root); }

// A file's size and modification time (-1 when it is missing); `changed`:
// its status-change time, in wall-clock seconds.
inline std::pair<std::int64_t, std::int64_t> ContentStamp(const std::string& path, double* changed = nullptr) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {-1, 0};
  if (changed != nullptr) *changed = static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec * 1e-9;
  return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

// A percentage kept in two bytes, as hundredths.
inline std::int16_t Hundredths(double percent) {
  if (!(percent > 0.0)) return 0;  // NaN too
  return static_cast<std::int16_t>(std::lround(std::min(percent, 100.0) * 100.0));
}

}  // namespace vantorel::syncthing_files
