// The property-list reader on any bytes (XML or binary, as the preferences
// file, the history and the help list are), and what it read written back
// out and read again.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "units/prefs/OldStylePlistText.h"
#include "units/prefs/PropertyListIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  PlistValue value;
  if (!ParsePropertyList(std::string_view(reinterpret_cast<const char*>(data), size), value)) return 0;
  (void)FormatOldStylePlist(value);
  // What we write must read back: the preferences are rewritten this way.
  PlistValue again;
  if (!ParsePropertyList(SerializePropertyListXml(value), again)) __builtin_trap();
  return 0;
}
