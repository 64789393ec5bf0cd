#pragma once
// The default item-state source: the extended attributes the sync agent
// keeps on each item (units/fs/SyncAttributes.h), read fresh at every
// question, so any thread may ask.

#include <memory>

#include "engine/ItemStateSource.h"

namespace vantorel {

std::shared_ptr<ItemStateSource> MakeAttributeItemSource();

}  // namespace vantorel
