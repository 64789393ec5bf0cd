#pragma once
// The simulated agent's own reading of the attribute protocol: what it
// counts as one item, where a placeholder goes, how it reads its own marks.
// Written apart from Vantorel's reading on purpose: only the names and the
// value encoding are shared (SyncAttributes.h), so a misreading on either
// side shows in the end-to-end tests instead of being shared by both.

#include <string>
#include <string_view>

namespace vantorel::agent {

// A folder the store keeps as one document or application: its extension,
// letter case ignored, is one the agent uploads whole.
bool IsPackageFolder(const std::string& path);

// "folder/.name.icloud" for "folder/name".
std::string PlaceholderOf(std::string_view item);

// The item's own mark, read as the protocol says (a link is not followed).
bool IsMarked(const std::string& path, const char* attribute);

// The item itself is a symbolic link (the agent never follows one).
bool IsLink(const std::string& path);

// Every sync attribute the item carries, one "name = value" line each after
// a line with the item's name; what the agent itself has written.
std::string Describe(const std::string& path);

}  // namespace vantorel::agent
