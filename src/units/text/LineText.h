#pragma once
// Names and paths written into line-based text (diagnostics, the control
// socket's replies): a file name may hold any byte but '/' and NUL, and a
// newline in it would start a line of its own.

#include <string>
#include <string_view>

namespace vantorel {

// `text` with everything that could break or forge a line made visible:
// "\n", "\r" and "\t" as such, other control characters (C0, DEL, C1) and
// the line and paragraph separators as "\xNN" or "\uNNNN", bytes that are
// not UTF-8 as "\xNN", and the backslash itself as "\\". Other text, any
// script, stays as it is.
std::string EscapedForLine(std::string_view text);

}  // namespace vantorel
