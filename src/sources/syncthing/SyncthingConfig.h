#pragma once
// Where Syncthing's REST API is and how to be let in, from its config.xml:
// the GUI's address (host:port, or a Unix socket), whether it serves TLS,
// and the API key. The configuration is looked for where Syncthing keeps
// it: $STHOMEDIR, then $XDG_STATE_HOME/syncthing (newer releases), then
// $XDG_CONFIG_HOME/syncthing (1.19, Debian 12's).
//
// Threads: free functions, no state.

#include <optional>
#include <string>
#include <vector>

#include "sources/LocalHttp.h"

namespace vantorel {

// The config.xml files to try, in order.
std::vector<std::string> SyncthingConfigCandidates();

// The endpoint a config.xml describes; nothing, with `problem` set to a
// sentence, when it cannot be read or has no usable GUI.
std::optional<LocalEndpoint> ReadSyncthingConfig(const std::string& path, std::string* problem);

// The first candidate that reads; `problem` says why none did.
std::optional<LocalEndpoint> FindSyncthingConfig(std::string* problem);

}  // namespace vantorel
