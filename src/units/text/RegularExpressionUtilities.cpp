#include "units/text/RegularExpressionUtilities.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <memory>

#include "units/text/ShortString.h"

namespace vantorel {

namespace {

void AppendGroups(icu::RegexMatcher& matcher, CapturedTexts& list) {
  UErrorCode status = U_ZERO_ERROR;
  const int32_t groups = matcher.groupCount();
  for (int32_t g = 1; g <= groups; ++g) {
    if (matcher.start(g, status) < 0 || U_FAILURE(status)) {
      list.emplace_back(std::nullopt);
      status = U_ZERO_ERROR;
      continue;
    }
    std::string utf8;
    matcher.group(g, status).toUTF8String(utf8);
    list.emplace_back(std::move(utf8));
  }
}

// The match engine's work limit, in its own steps (each on the order of a
// millisecond): far above what any sensible filter needs on a path.
constexpr int32_t kMatchWorkLimit = 200;
// Memory for backtracking, in bytes.
constexpr int32_t kMatchStackLimit = 1 << 20;

MatchOutcome Match(const std::string& text, const std::string& expression, unsigned options,
                   CapturedTexts* matches) {
  CapturedTexts list;
  int count = 0;
  MatchOutcome outcome = MatchOutcome::Invalid;
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  // The pattern is compiled anew each time: expressions come from the user's
  // filters and may change between calls.
  std::unique_ptr<icu::RegexPattern> pattern(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(expression), UREGEX_CASE_INSENSITIVE, parseError, status));
  if (U_SUCCESS(status) && pattern) {
    const icu::UnicodeString subject = icu::UnicodeString::fromUTF8(text);
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
    if (U_SUCCESS(status) && matcher) {
      matcher->setTimeLimit(kMatchWorkLimit, status);
      matcher->setStackLimit(kMatchStackLimit, status);
    }
    if (U_SUCCESS(status) && matcher) {
      if (options & kMatchingAnchored) {
        // Each match must begin where the previous one ended; "^" still means
        // the start of the text only.
        const int32_t length = subject.length();
        int32_t start = 0;
        while (start <= length) {
          matcher->region(start, length, status);
          matcher->useAnchoringBounds(start == 0);
          matcher->useTransparentBounds(true);
          if (U_FAILURE(status) || !matcher->lookingAt(status)) break;
          ++count;
          AppendGroups(*matcher, list);
          const int32_t end = matcher->end(status);
          if (U_FAILURE(status) || end == start) break;  // an empty match would repeat forever
          start = end;
        }
      } else {
        while (matcher->find(status) && U_SUCCESS(status)) {
          ++count;
          AppendGroups(*matcher, list);
        }
      }
      outcome = count > 0 ? MatchOutcome::Matched : MatchOutcome::NotMatched;
      if (status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW) {
        outcome = MatchOutcome::TooCostly;
        count = 0;
        list.clear();
      }
    }
  }
  if (matches) *matches = std::move(list);
  return outcome;
}

}  // namespace

MatchOutcome matchExpression(const std::string& text, const std::string& expression) {
  return Match(text, expression, 0, nullptr);
}

bool matchesWithExpression(const std::string& text, const std::string& expression, unsigned options,
                           CapturedTexts* matches) {
  return Match(text, expression, options, matches) == MatchOutcome::Matched;
}

bool isValidExpression(const std::string& expression) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError;
  std::unique_ptr<icu::RegexPattern> pattern(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(expression), UREGEX_CASE_INSENSITIVE, parseError, status));
  return U_SUCCESS(status) && pattern != nullptr;
}

bool matchesWithExpression(const std::string& text, const std::string& expression, CapturedTexts* matches) {
  return matchesWithExpression(text, shortString(expression), kMatchingAnchored, matches);
}

}  // namespace vantorel
