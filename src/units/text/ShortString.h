#pragma once
// Length-limited texts for display, log entries and messages. Never applied
// to a path that is then used to reach a file: a cut path names another file.

#include <cstddef>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::size_t kShortStringMaxBytes = 255;

// The first bytes of `text`, at most `maxBytes` of them, cut before a UTF-8
// character that would not fit whole (bytes that are not UTF-8 are cut as
// bytes).
std::string TruncateUtf8(std::string_view text, std::size_t maxBytes);

// `text` as a short string: at most 255 bytes, whole characters only.
std::string shortString(std::string_view text);

}  // namespace vantorel
