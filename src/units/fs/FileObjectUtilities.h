#pragma once
// What the program counts as hidden, as a directory and as a package, and the
// reference by which a folder is handed to FSGetDirectorySize.

#include <sys/types.h>

#include <string>
#include <unordered_set>
#include <string_view>

namespace vantorel {

// True when the item exists (not following a final link) and its name begins
// with "." or is listed, one name per line, in its folder's ".hidden" file.
bool isHidden(const std::string& path);
// The names the ".hidden" file of `folder` lists, read as isHidden reads it
// (for a walk that asks about every entry of the folder); empty without one.
std::unordered_set<std::string> HiddenNamesIn(const std::string& folder);

// True when the item exists (links followed) and is a directory; packages are
// directories too.
bool isDirectory(const std::string& path);

// True when the item is a directory (links followed) whose extension, letter
// case ignored, names a package: a folder the user sees as one document or
// application. The list is kPackageExtensions.
bool isPackage(const std::string& path);
// Cheap half of isPackage, without touching the file system.
bool hasPackageExtension(std::string_view path);

// The package extensions, as a null-terminated list: app, appex, bundle,
// component, framework, kext, mdimporter, plugin, prefpane, qlgenerator,
// saver, xpc (code bundles); rtfd, pages, numbers, key, band, logicx,
// photoslibrary, fcpbundle, xcodeproj, xcworkspace, playground (documents).
extern const char* const kPackageExtensions[];

// A reference to one existing item: its device and inode, and the path it was
// made from (to reopen it). A path that cannot be resolved gives an invalid
// (all-zero) reference.
struct FSRef {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;
};

// Final links are followed.
FSRef fsRef(const std::string& path);

}  // namespace vantorel
