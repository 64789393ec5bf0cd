#pragma once
// Case-insensitive regular-expression matching with captured groups, in ICU's
// syntax.

#include <optional>
#include <string>
#include <vector>

namespace vantorel {

// The texts of the capture groups of every match, in order of position, group
// 1 upwards; nothing (std::nullopt) for a group that took no part in a match.
using CapturedTexts = std::vector<std::optional<std::string>>;

// Matching option: a match must begin at the start of the text, and each
// further match where the previous one ended.
inline constexpr unsigned kMatchingAnchored = 4;

// Every match runs with a work limit (and a limit on its backtracking
// memory): a pattern such as "(x+x+)+y" would otherwise backtrack for hours
// on a long path. A match that reaches a limit counts as no match.
enum class MatchOutcome { Matched, NotMatched, Invalid, TooCostly };

// Whether `expression` matches `text` (letter case ignored), and why not.
MatchOutcome matchExpression(const std::string& text, const std::string& expression);

// True when `expression` matches `text` at least once, letter case ignored.
// When `matches` is given it receives the captured texts of all matches (an
// empty list when nothing matched). An expression that does not compile
// matches nothing. Texts are UTF-8; bytes that are not become U+FFFD in the
// captured texts.
bool matchesWithExpression(const std::string& text, const std::string& expression, unsigned options,
                           CapturedTexts* matches);

// Whether `expression` compiles (as the matching above compiles it).
bool isValidExpression(const std::string& expression);

// The anchored form. The expression is a short string: at most 255 bytes.
bool matchesWithExpression(const std::string& text, const std::string& expression, CapturedTexts* matches);

}  // namespace vantorel
