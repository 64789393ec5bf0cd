#pragma once
// vantorel-defaults: reads and writes the preferences domain from the command
// line, the way a Mac user's `defaults` tool does.

#include <iosfwd>
#include <string>
#include <vector>

namespace vantorel {

// Runs one command (`args` without the program name) on the domain stored at
// `filePath`. Results go to `out`, messages to `err`. Returns the exit code:
// 0 done, 1 a missing key or a value that could not be saved, 2 a usage error.
int RunDefaultsTool(const std::vector<std::string>& args, const std::string& filePath, std::ostream& out,
                    std::ostream& err);

}  // namespace vantorel
