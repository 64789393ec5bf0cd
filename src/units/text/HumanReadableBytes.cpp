#include "units/text/HumanReadableBytes.h"

#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace vantorel {

std::string ConvertBytesToHumanReadable(double bytes) {
  static constexpr char kPrefixes[] = {'\0', 'k', 'M', 'G', 'T', 'P', 'E', 'Z', 'Y'};
  double value = bytes;
  int exponent = 0;
  while (value >= 1000 && exponent < 8) {
    value /= 1000;
    ++exponent;
  }

  std::string number;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> format(
      icu::NumberFormat::createInstance(icu::Locale::getDefault(), UNUM_DECIMAL, status));
  if (U_SUCCESS(status) && format) {
    format->setMaximumFractionDigits(2);
    format->setRoundingMode(icu::NumberFormat::kRoundHalfEven);
    icu::UnicodeString text;
    format->format(value, text);
    text.toUTF8String(number);
  } else {
    number = std::to_string(value);
  }

  std::string result = number + " ";
  if (kPrefixes[exponent] != '\0') result += kPrefixes[exponent];
  result += 'B';
  return result;
}

}  // namespace vantorel
