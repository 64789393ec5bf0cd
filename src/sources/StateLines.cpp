#include "sources/StateLines.h"

#include <algorithm>

namespace vantorel {

namespace {

constexpr double kWindow = 60.0;
constexpr std::size_t kLinesBeforeHolding = 4;

}  // namespace

bool StateLines::ShouldSay(const std::string& line, double now) {
  if (line == last_) return false;
  while (!recent_.empty() && now - recent_.front().first >= kWindow) recent_.pop_front();
  const bool saidLately = std::any_of(recent_.begin(), recent_.end(), [&](const auto& said) { return said.second == line; });
  if (saidLately && recent_.size() >= kLinesBeforeHolding) return false;
  last_ = line;
  recent_.emplace_back(now, line);
  return true;
}

}  // namespace vantorel
