#pragma once
// The logical size of everything below a folder.

#include <cstdint>

#include "units/fs/FileObjectUtilities.h"

namespace vantorel {

// Called for each subfolder before it is measured; returning true cancels the
// rest of the listing of the folder that holds it (the folders above carry on
// and ask again for their next subfolder).
using FSDirectorySizeCallback = bool (*)(void* userData, const FSRef& child);

// Sums the sizes (bytes of content, not blocks) of every item below the
// folder, recursively; symbolic links count as themselves and are never
// followed. An invalid reference, a folder that cannot be opened, or a
// reference whose path now names another item gives 0. A child that cannot be
// read ends the listing of its folder there, without an error: the result is
// then simply smaller.
std::uint64_t FSGetDirectorySize(const FSRef& folder);
std::uint64_t FSGetDirectorySize(const FSRef& folder, FSDirectorySizeCallback callback, void* userData);

}  // namespace vantorel
