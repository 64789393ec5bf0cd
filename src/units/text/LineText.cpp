#include "units/text/LineText.h"

#include <cstdio>

#include "units/text/Utf8.h"

namespace vantorel {

namespace {
void AppendByte(std::string& out, unsigned char byte) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  out += escaped;
}
}  // namespace

std::string EscapedForLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20 || c == 0x7F)
            AppendByte(out, c);
          else
            out.push_back(static_cast<char>(c));
      }
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      AppendByte(out, c);
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, length);
    // C1 controls (U+0080–U+009F, NEL among them) and U+2028/U+2029 end
    // lines for some readers.
    const bool c1 = c == 0xC2 && static_cast<unsigned char>(sequence[1]) <= 0x9F;
    const bool separator = sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9";
    if (c1 || separator) {
      char escaped[12];
      const unsigned code = c1 ? static_cast<unsigned char>(sequence[1]) : (sequence[2] == '\xA8' ? 0x2028u : 0x2029u);
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out.append(sequence);
    }
    i += length;
  }
  return out;
}

}  // namespace vantorel
