#pragma once
// What the tracker knows of one item's transfer, read fresh from the file
// system at every call.
//
// The sync agent keeps an item's state in extended attributes of the
// "user.ubiquity." namespace: "item" (on the item or any folder above it: the
// item belongs to the synchronised store), "uploaded" and "uploading" (on the
// item itself), and a few diagnostic ones. A value counts as true when its
// text reads as a true boolean ("1", "YES", "true"); a missing or unreadable
// attribute is false.
//
// An item that is in the store but not yet on this computer is represented by
// its placeholder, "folder/.name.icloud" for "folder/name".

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
// The path ends in ".icloud", letter case exact; nothing is asked of the disk.
bool isDownloadReference(std::string_view path);

bool isTracked(const std::string& path);
bool isUploading(const std::string& path);
bool isUploaded(const std::string& path);

// Writes a description of the item's state to standard output: the line
// "icloud status: " + name, then one indented line per fact that holds.
void ubiquityStatus(const std::string& path);

// False when the item's file system keeps no user extended attributes, so
// that no sync state can ever be read there (true when it is unknown).
bool canHoldSyncState(const std::string& path);

// "folder/.name.icloud" for "folder/name".
std::string placeholderPathForItem(std::string_view path);

// The extended attributes the sync agent keeps.
inline constexpr const char* kUbiquityItemAttribute = "user.ubiquity.item";
inline constexpr const char* kUbiquityUploadedAttribute = "user.ubiquity.uploaded";
inline constexpr const char* kUbiquityUploadingAttribute = "user.ubiquity.uploading";

}  // namespace vantorel
