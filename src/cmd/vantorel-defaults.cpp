// vantorel-defaults: the command-line face of Vantorel's preferences.

#include <iostream>
#include <string>
#include <vector>

#include "cmd/DefaultsTool.h"
#include "units/runtime/Diagnostics.h"
#include "units/prefs/UserDefaults.h"

int main(int argc, char** argv) {
  // Standard output carries what was read; the store's own messages go apart.
  vantorel::SetDiagnosticStream(stderr);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return vantorel::RunDefaultsTool(args, vantorel::TUserDefaults::DefaultFilePath(), std::cout, std::cerr);
}
