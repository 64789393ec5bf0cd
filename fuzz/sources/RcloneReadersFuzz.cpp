// What rclone leaves for others to read, made of any bytes: the mount
// table, a mounting process's command line and environment, a cache record,
// its remote control's list of what moves.
// Each reads as something sane or as nothing, never crashes or runs away,
// and nothing read can lead out of the folders it belongs to. Built once
// per reader (RCLONE_READER picks which), each with a corpus of its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sources/rclone/RcloneMeta.h"
#include "sources/rclone/RcloneMounts.h"
#include "sources/rclone/RcloneStats.h"
#include "units/fs/PathSafety.h"

namespace {

using namespace vantorel;

void Mounts(std::string_view text) {
  for (const RcloneMount& mount : ParseRcloneMounts(text)) {
    if (!IsPlainAbsolutePath(mount.mountPoint) || !IsPlainRelativePath(mount.remoteName)) __builtin_trap();
    if (!mount.remotePath.empty() && !IsPlainRelativePath(mount.remotePath)) __builtin_trap();
    // A record folder built from it stays inside the cache.
    const std::string folder = RcloneRecordFolder(mount, "/cache");
    if (!IsWithinFolder(folder, "/cache/vfsMeta")) __builtin_trap();
  }
  // The same bytes as a command line and environment, NUL-separated.
  std::vector<std::string> args;
  std::string part;
  for (const char c : text) {
    if (c == '\0') {
      args.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  args.push_back(part);
  const std::vector<std::string> environment(args.begin() + static_cast<std::ptrdiff_t>(args.size() / 2), args.end());
  args.resize(args.size() / 2 + 1);
  if (const auto process = ReadRcloneCommandLine(args, environment, "/home/u", "/home/u/mnt"))
    if (!IsPlainAbsolutePath(process->cacheDir)) __builtin_trap();
}

void Record(std::string_view text) {
  const auto record = ParseRcloneRecord(text);
  if (record && record->size < -1) __builtin_trap();
  // The bytes as a path: mapped only when plainly inside.
  const std::string path(text);
  if (const auto file = RcloneFileOfRecord(path, "/mnt", "/cache/vfsMeta/r"))
    if (!IsWithinFolder(*file, "/mnt") || *file == "/mnt") __builtin_trap();
  if (const auto record = RcloneRecordOf(path, "/mnt", "/cache/vfsMeta/r"))
    if (!IsWithinFolder(*record, "/cache/vfsMeta/r") || *record == "/cache/vfsMeta/r") __builtin_trap();
}

void Stats(std::string_view text) {
  const auto moving = ParseRcloneTransferring(text, 1000);
  if (!moving) return;
  if (moving->size() > 1000) __builtin_trap();
  for (const RcloneTransferring& file : *moving)
    if (!IsPlainRelativePath(file.name) || !(file.percentage >= 0 && file.percentage <= 100)) __builtin_trap();
  // The bytes as a remote control's address: only loopback is asked.
  if (const auto url = RcloneRemoteControlUrl(std::string(text)))
    if (url->rfind("http://127.", 0) != 0 && url->rfind("http://[::1]:", 0) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
#if RCLONE_READER == 0
  Mounts(text);
#elif RCLONE_READER == 1
  Record(text);
#else
  Stats(text);
#endif
  return 0;
}
