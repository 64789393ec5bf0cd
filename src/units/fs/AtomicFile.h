#pragma once
// Whole-file reads and atomic replacement, made safe against what other
// programs (or other users) may have put in the file's place: a read takes
// only a regular file, never blocks and has a size limit; a write never goes
// through a symbolic link and only into a folder of the user's own.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

// Far above any file this program reads whole (preferences, history, help
// list): anything larger is not one of them.
inline constexpr std::size_t kLargestReadableFile = std::size_t{8} << 20;

// Replaces the file at `path` with `bytes` so that a reader sees either the
// old or the new content, never a mix: a temporary file beside it is written,
// flushed to disk and renamed over the original. An existing file keeps its
// permissions. Refused (nothing written) when something other than a regular
// file is in its place (a symbolic link, a FIFO, a folder) or when the folder
// is not the user's own (FolderIsSafeToWrite). On failure the original is
// untouched, the temporary file is removed, and `error` (when given) says why
// in a few words.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The whole content of a regular file of at most `limit` bytes (a final link
// is followed), or nothing: `error` then holds the reason and `errorNumber`
// the errno (ENOENT for a missing file, EINVAL for something that is not a
// regular file, EFBIG for one over the limit). Opened without blocking, so a
// FIFO or a device in its place is refused at once.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error = nullptr,
                                         int* errorNumber = nullptr, std::size_t limit = kLargestReadableFile);

// Opens `path` for appending, creating it (mode 0644) when missing: only a
// regular file, never through a symbolic link, never blocking, and only in
// a folder of the user's own. The descriptor, or −1 with `error` saying why.
int OpenFileForAppend(const std::string& path, std::string* error = nullptr);

// Empties the regular file at `path` in place (open descriptors stay valid);
// a link or anything else in its place is left alone (false, `error` says why).
bool EmptyRegularFile(const std::string& path, std::string* error = nullptr);

// Whether the program may write its own files in `folder` (links followed):
// an existing folder that belongs to this user and that nobody else can
// write to (no write bit for others; a group write bit only for the user's
// own group). Otherwise `problem` says why in a few words.
bool FolderIsSafeToWrite(const std::string& folder, std::string* problem = nullptr);

// Creates the folder and its missing parents (mode 0700 for new ones).
bool MakeDirectories(const std::string& path);

}  // namespace vantorel
