#pragma once
// The agent's record of what it finished, one line per transfer
// ("uploaded\tPATH" or "downloaded\tPATH"), appended with a single write so
// that an agent and several downloads can share one file. A soak run checks
// Vantorel's log and history against it.

#include <string>

namespace vantorel {

// Appends one line to `journal` (nothing when it is empty); false, with
// `error` set, when the line could not be written whole.
bool AppendJournalLine(const std::string& journal, const char* what, const std::string& path, std::string* error);

}  // namespace vantorel
