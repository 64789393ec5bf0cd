#pragma once
// rclone's remote control's word on what moves now (`core/stats`): the
// files transferring, each with how far it came. An answer of another
// program's: bounded before it is parsed, and a name that could step out of
// the mount is left out.
//
// Threads: a free function, no state.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct RcloneTransferring {
  std::string name;  // relative to the mount's root
  std::int64_t size = -1;
  std::int64_t bytes = -1;
  double percentage = 0;  // 0 to 100
};

// The "transferring" list of a core/stats answer (empty when nothing
// moves), at most `most`; nothing when the answer is not one.
std::optional<std::vector<RcloneTransferring>> ParseRcloneTransferring(std::string_view text,
                                                                       std::size_t most = 1000);

}  // namespace vantorel
