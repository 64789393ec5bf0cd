#include "units/text/ShortString.h"

namespace vantorel {

namespace {
bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the UTF-8 sequence a lead byte announces (1 for anything else).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}
}  // namespace

std::string TruncateUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  // Step back to the start of the character the cut falls in (at most three
  // continuation bytes), and drop it when it does not fit whole.
  std::size_t start = maxBytes;
  std::size_t back = 0;
  while (start > 0 && back < 3 && IsContinuationByte(static_cast<unsigned char>(text[start]))) {
    --start;
    ++back;
  }
  const auto lead = static_cast<unsigned char>(text[start]);
  const std::size_t length = SequenceLength(lead);
  std::size_t cut = maxBytes;
  if (length > 1 && back > 0 && start + length > maxBytes) cut = start;
  return std::string(text.substr(0, cut));
}

std::string shortString(std::string_view text) { return TruncateUtf8(text, kShortStringMaxBytes); }

}  // namespace vantorel
