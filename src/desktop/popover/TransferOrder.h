#pragma once
// The order of the transfer list: by the item's name without its extension,
// letter case ignored (names that differ only in extension, case or folder
// compare equal and keep the order they came in).

#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// Negative, zero or positive as `a` sorts before, with or after `b`.
int SortPathsByName(std::string_view a, std::string_view b);

void SortTransfersByName(std::vector<std::string>& paths);

}  // namespace vantorel
