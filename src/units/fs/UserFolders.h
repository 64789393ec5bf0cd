#pragma once
// The user's folders as a Linux desktop defines them.

#include <string>

namespace vantorel {

// $HOME, else the password database's entry for this user, else "/".
std::string HomeDirectory();
// PATH as a user reads it: the home folder at its start written "~".
std::string PathWithTilde(const std::string& path);
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string ConfigHome();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string DataHome();
// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::string CacheHome();
// The user's Documents and Desktop folders as the desktop's user-dirs
// configuration ($XDG_CONFIG_HOME/user-dirs.dirs) names them, else
// ~/Documents and ~/Desktop.
std::string DocumentsFolder();
std::string DesktopFolder();

}  // namespace vantorel
