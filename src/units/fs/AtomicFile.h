#pragma once
// Whole-file reads and atomic replacement.

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

// Replaces the file at `path` with `bytes` so that a reader sees either the
// old or the new content, never a mix: a temporary file beside it is written,
// flushed to disk and renamed over the original. An existing file keeps its
// permissions. On failure the original is untouched, the temporary file is
// removed, and `error` (when given) says why in a few words.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// The whole content of a file, or nothing when it cannot be read (`error`
// then holds the reason; a missing file gives errno ENOENT in `errorNumber`).
std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error = nullptr,
                                         int* errorNumber = nullptr);

// Creates the folder and its missing parents (mode 0700 for new ones).
bool MakeDirectories(const std::string& path);

}  // namespace vantorel
