#pragma once
// The files this process writes itself (its log, history and preferences).
// Watchers leave out changes to them, including the temporary files through
// which they are replaced, so the program never reacts to its own writes.

#include <string>

namespace vantorel {

void RegisterOwnFile(const std::string& path);
void UnregisterOwnFile(const std::string& path);
// True for a registered file, and for "folder/.name.XXXXXX", the temporary
// file an atomic replacement of "folder/name" goes through, however the
// folder is spelled (compared by device and inode when the name fits).
// Register a file before its first write, so its creation is left out too.
bool IsOwnFile(const std::string& path);

}  // namespace vantorel
