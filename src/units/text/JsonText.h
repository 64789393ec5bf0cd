#pragma once
// Pieces of JSON text, for answers that scripts parse.

#include <string>
#include <string_view>

namespace vantorel {

// `text` as a JSON string, quotes included. Control characters, quotes and
// backslashes are escaped; bytes that are not UTF-8 (file names may hold
// any) become U+FFFD, so the result is always valid JSON.
std::string JsonQuoted(std::string_view text);

}  // namespace vantorel
