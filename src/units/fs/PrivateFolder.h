#pragma once
// Folders that must be the user's alone (the control socket's, the instance
// lock's): anyone else who could write there could put a socket or lock of
// their own in our place, or make us follow a link into their folder.

#include <string>

namespace vantorel {

// Makes `folder` (0700) when missing, then checks that it is a folder itself
// (not a symbolic link to one), belongs to this user and is closed to
// everyone else. False with `error` saying why, naming `what` is refused
// ("the control socket", "the instance lock").
bool PreparePrivateFolder(const std::string& folder, const std::string& what, std::string* error);

}  // namespace vantorel
