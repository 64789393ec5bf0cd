#pragma once
// The one UTF-8 decoding rule the text escapers share.

#include <cstddef>
#include <string_view>

namespace vantorel {

// The length of the well-formed UTF-8 sequence that starts at `i` of `s`
// (no overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);

}  // namespace vantorel
