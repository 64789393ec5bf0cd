#include "units/prefs/OldStylePlistText.h"

#include <cmath>
#include <ctime>

namespace vantorel {

namespace {

bool IsPlainWord(const std::string& s) {
  if (s.empty()) return false;
  for (const unsigned char c : s) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                       c == '$' || c == '.' || c == '/' || c == ':' || c == '-' || c == '+';
    if (!plain) return false;
  }
  return true;
}

std::string Quoted(const std::string& s) {
  if (IsPlainWord(s)) return s;
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

void Append(const PlistValue& value, int depth, std::string& out) {
  const std::string indent(static_cast<std::size_t>(depth) * 4, ' ');
  const std::string inner(static_cast<std::size_t>(depth + 1) * 4, ' ');
  switch (value.type()) {
    case PlistValue::Type::Boolean: out += *value.AsBoolean() ? "1" : "0"; break;
    case PlistValue::Type::Integer: out += std::to_string(*value.AsInteger()); break;
    case PlistValue::Type::Real: out += FormatReal(*value.AsReal()); break;
    case PlistValue::Type::String: out += Quoted(*value.AsString()); break;
    case PlistValue::Type::Date: out += "\"" + FormatDateUtc(value.AsDate()->time) + "\""; break;
    case PlistValue::Type::Data: {
      static constexpr char kHex[] = "0123456789abcdef";
      out += '<';
      std::size_t i = 0;
      for (const std::uint8_t byte : *value.AsData()) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
        ++i;
      }
      out += '>';
      break;
    }
    case PlistValue::Type::Array: {
      out += "(\n";
      const auto& array = *value.AsArray();
      for (std::size_t i = 0; i < array.size(); ++i) {
        out += inner;
        Append(array[i], depth + 1, out);
        out += i + 1 < array.size() ? ",\n" : "\n";
      }
      out += indent + ")";
      break;
    }
    case PlistValue::Type::Dictionary: {
      out += "{\n";
      for (const auto& [key, item] : *value.AsDictionary()) {
        out += inner + Quoted(key) + " = ";
        Append(item, depth + 1, out);
        out += ";\n";
      }
      out += indent + "}";
      break;
    }
  }
}

}  // namespace

std::string FormatOldStylePlist(const PlistValue& value) {
  std::string out;
  Append(value, 0, out);
  return out;
}

std::string FormatDateUtc(AbsoluteTime date) {
  const auto seconds = static_cast<std::time_t>(std::floor(UnixTimeFromAbsolute(date)));
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return buffer;
}

}  // namespace vantorel
