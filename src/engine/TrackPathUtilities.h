#pragma once
// What the tracker asks of a path itself, apart from its sync state (which
// comes from its item-state source): links, size, and whether a folder above
// it is a package. Read fresh from the file system at every call.

#include <string>
#include <string_view>

namespace vantorel {

// The item itself is a symbolic link (a final link is not followed).
bool isSymbolicLink(const std::string& path);
// The item's size is above zero (a folder reports its own entry's size).
bool doesFileContainBytes(const std::string& path);
// Some folder above the item is named with the extension "framework" or
// "bundle", letter case exact. Text only; the root is never tested.
bool isImplicitlyPackaged(std::string_view path);
// Some folder above the item is a package. The item itself is not tested.
bool isFilePackaged(std::string_view path);

}  // namespace vantorel
