#pragma once
// The "auto" choice of item-state source: a question about a path goes to
// the sync client that has registered a folder holding it, and otherwise to
// the fallback (the attributes). Clients come and go without pausing
// anything: until one registers a folder, the fallback answers.
//
// Threads: as any source; the roots each client registered are read from
// the clients themselves (their own locks).

#include <memory>
#include <vector>

#include "engine/ItemStateSource.h"

namespace vantorel {

std::shared_ptr<ItemStateSource> MakeSelectingItemSource(std::vector<std::shared_ptr<ItemStateSource>> clients,
                                                         std::shared_ptr<ItemStateSource> fallback);

}  // namespace vantorel
