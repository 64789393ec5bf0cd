#pragma once
// Which item-state source the tracker asks, from the "SyncService"
// preference: "attributes" (the extended attributes), "nextcloud" or
// "owncloud" (that desktop client's socket), "syncthing" (its REST API), or "auto" (the default: the
// client that has registered a folder holding a path answers for it, the
// attributes for everything else). Main thread, at launch.

#include <memory>
#include <optional>
#include <string>

#include "engine/ItemStateSource.h"

namespace vantorel {

// An unknown name is said once and taken as "auto".
std::shared_ptr<ItemStateSource> MakeItemSourceFor(const std::optional<std::string>& service);

}  // namespace vantorel
