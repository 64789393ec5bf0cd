#pragma once
// Which of a source's state lines ("connected", "lost", "waiting") are
// worth saying. A state is said when it changes; a client flapping between
// two states (a stream that restarts on every page) would still print a
// line a second, so once four lines were said within a minute, a line
// said within that minute waits until it is a minute old. A state never
// said before is always said.
//
// Threads: none; its owner serialises calls.

#include <deque>
#include <string>
#include <utility>

namespace vantorel {

class StateLines {
public:
  // Whether to say `line` now (steady seconds `now`); remembered if so.
  bool ShouldSay(const std::string& line, double now);

private:
  std::string last_;
  std::deque<std::pair<double, std::string>> recent_;  // said within the last minute
};

}  // namespace vantorel
