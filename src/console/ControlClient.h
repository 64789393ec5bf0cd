#pragma once
// `vantorel status`, `wait-idle`, `open`, `preferences`, `rescan`, `quit`:
// a request to the running instance over its control socket, its answer
// printed. Exit codes: 0 done; 1 timed out; 2 no instance runs (or the
// command was given wrongly); 3 the instance refused or answered an error.

#include <string>
#include <vector>

namespace vantorel {

// Whether `word` names one of the commands above.
bool IsControlCommand(const std::string& word);

// Runs the command `args` (its name first) against the instance whose
// socket is `socketPath`; returns the exit code.
int RunControlCommand(const std::vector<std::string>& args, const std::string& socketPath);

// A second launch: asks the running instance to open its popover, and says
// so after `running` ("Vantorel is already running (process N)"). False
// when no instance answered.
bool HandOverToRunningInstance(const std::string& socketPath, const std::string& running);

}  // namespace vantorel
