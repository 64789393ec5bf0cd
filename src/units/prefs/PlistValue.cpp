#include "units/prefs/PlistValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <strings.h>

namespace vantorel {

namespace {

std::string_view Trimmed(std::string_view s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<double> ParseNumber(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::int64_t ClampToInteger(double r) {
  if (std::isnan(r)) return 0;
  if (r >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
  if (r <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

}  // namespace

std::optional<bool> PlistValue::ToBoolean() const {
  if (const bool* b = AsBoolean()) return *b;
  if (const std::int64_t* i = AsInteger()) return *i != 0;
  if (const double* r = AsReal()) return *r != 0;
  if (const std::string* s = AsString()) {
    const std::string t(Trimmed(*s));
    for (const char* yes : {"YES", "true", "1"})
      if (strcasecmp(t.c_str(), yes) == 0) return true;
    for (const char* no : {"NO", "false", "0"})
      if (strcasecmp(t.c_str(), no) == 0) return false;
  }
  return std::nullopt;
}

std::optional<std::int64_t> PlistValue::ToInteger() const {
  if (const std::int64_t* i = AsInteger()) return *i;
  if (const bool* b = AsBoolean()) return *b ? 1 : 0;
  if (const double* r = AsReal()) return ClampToInteger(*r);
  if (const std::string* s = AsString()) {
    // Whole integers are read exactly; "2.5" reads as 2, like a real does.
    std::string_view t = Trimmed(*s);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (!t.empty() && ec == std::errc() && end == t.data() + t.size()) return value;
    if (const auto r = ParseNumber(*s)) return ClampToInteger(*r);
  }
  return std::nullopt;
}

std::optional<double> PlistValue::ToReal() const {
  if (const double* r = AsReal()) return *r;
  if (const std::int64_t* i = AsInteger()) return static_cast<double>(*i);
  if (const bool* b = AsBoolean()) return *b ? 1.0 : 0.0;
  if (const std::string* s = AsString()) return ParseNumber(*s);
  return std::nullopt;
}

std::optional<std::string> PlistValue::ToString() const {
  if (const std::string* s = AsString()) return *s;
  if (const std::int64_t* i = AsInteger()) return std::to_string(*i);
  if (const double* r = AsReal()) return FormatReal(*r);
  if (const bool* b = AsBoolean()) return std::string(*b ? "1" : "0");
  return std::nullopt;
}

std::string FormatReal(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "0";
  return std::string(buffer, end);
}

}  // namespace vantorel
