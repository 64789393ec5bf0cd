#pragma once
// Hands a file or an address to the desktop's opener (xdg-open) without
// the caller ever waiting for it: the opener runs in a session of its own,
// started and watched from a thread of its own. In a session without a
// file manager the opener may hang or start copies of itself; none of that
// reaches the caller. When nothing could open the target (the opener is
// missing, or says so within the time limit) that is said once per target;
// an opener still running after the limit is left to its handler (a
// generic opener waits for the program it started).
//
// Threads: any. A mutex guards the targets being opened and those said.

#include <string>

namespace vantorel {

// Starts the opener for `target`; returns at once. While an opener for the
// same target still runs, another is not started.
void OpenDetached(const std::string& target);

// Tests: the opener to run instead of xdg-open ("" restores it), and the
// seconds within which its failure is reported.
void SetOpenerForTesting(const std::string& program, double limitSeconds);

}  // namespace vantorel
