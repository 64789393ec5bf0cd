#pragma once
// rclone's record of each file its VFS cache holds: one small JSON file per
// file under CACHE/vfsMeta/REMOTE/PATH, "Dirty": true from the moment the
// file is written until its upload succeeds. The records are another
// program's files: read bounded, parsed only when sane, and a path is
// mapped between mount and cache only when it stays inside both.
//
// Threads: free functions, no state.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sources/rclone/RcloneMounts.h"

namespace vantorel {

// Records are a few hundred bytes; anything past this is no record.
inline constexpr std::size_t kLongestRcloneRecord = 64 * 1024;

struct RcloneRecord {
  bool dirty = false;
  std::int64_t size = -1;  // -1 where it does not say
  // The content's modification time as rclone keeps it ("ModTime", as
  // written): unlike the time the mount shows, it stays the same when the
  // upload ends. Empty where it does not say (or says it oddly).
  std::string modTime;
};

// A record's text; nothing when it is not one (truncated, not JSON, nested
// deeper than any real one, or without a "Dirty" that is true or false).
std::optional<RcloneRecord> ParseRcloneRecord(std::string_view text);

// Where the records of a mount's files are: CACHE/vfsMeta/NAME[/PATH].
std::string RcloneRecordFolder(const RcloneMount& mount, const std::string& cacheDir);

// The record file of `path` (a file in the mount), or nothing when `path`
// is not plainly inside the mount.
std::optional<std::string> RcloneRecordOf(const std::string& path, const std::string& mountPoint,
                                          const std::string& recordFolder);
// The file in the mount a record file stands for, or nothing when the
// record is not plainly inside the record folder.
std::optional<std::string> RcloneFileOfRecord(const std::string& record, const std::string& mountPoint,
                                              const std::string& recordFolder);

}  // namespace vantorel
