#pragma once
// A check made before a client's JSON is parsed at all: the JSON library
// compares and copies values recursively, so an answer nested far deeper
// than any real one (a lying client's 300,000 brackets) could exhaust the
// stack, and one with millions of values would be built whole in memory.
//
// Threads: a free function, no state.

#include <cstddef>
#include <string_view>

namespace vantorel {

// The nesting every client's answers stay well within.
inline constexpr int kDeepestJsonNesting = 64;

// Whether brackets and braces outside strings nest deeper than `limit`, or
// the outermost array or object holds more than `mostItems` values.
bool LargerThanAnyRealAnswer(std::string_view text, int limit, std::size_t mostItems);

}  // namespace vantorel
