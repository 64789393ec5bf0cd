// vantorel-defaults on made-up arguments: the value parsers of -array,
// -dict, -date, -data, -int, -float, -bool and old-style text, writing to a
// preferences file of this process's own and reading it back.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cmd/DefaultsTool.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantorel;
  if (size == 0) return 0;
  static const char* const kTypes[] = {"-string", "-int", "-float", "-bool", "-date", "-data",
                                       "-array", "-array-add", "-dict", "-dict-add", ""};
  static const std::string file = "/tmp/vantorel-defaults-fuzz-" + std::to_string(::getpid()) + ".plist";
  // The first byte picks the type; the rest, split at NUL bytes, are values.
  std::vector<std::string> args{"write", "Key"};
  const std::string type = kTypes[data[0] % (sizeof kTypes / sizeof *kTypes)];
  if (!type.empty()) args.push_back(type);
  std::string current;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  if (args.size() > 64) return 0;
  std::ostringstream out, err;
  RunDefaultsTool(args, file, out, err);
  RunDefaultsTool({"read", "Key"}, file, out, err);
  return 0;
}
