// The pattern matcher (include and exclude patterns are the user's own
// regular expressions) on any pattern and any path, under its work limit.

#include <cstddef>
#include <cstdint>
#include <string>

#include "units/text/RegularExpressionUtilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Pattern, a NUL, then the path.
  const std::size_t split = input.find('\0');
  const std::string pattern = input.substr(0, split);
  const std::string path = split == std::string::npos ? std::string("/cloud/report.txt") : input.substr(split + 1);
  (void)vantorel::matchExpression(path, pattern);
  return 0;
}
