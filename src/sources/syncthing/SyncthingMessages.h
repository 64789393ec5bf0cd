#pragma once
// What Syncthing's REST API answers, read from its JSON: the events of the
// long-poll, the folders of its configuration, a device's completion and
// remote need, the connections, one file's record. Only the fields this
// program uses are kept; anything malformed reads as nothing (the caller
// says so once), never as a half-read value. An answer nested deeper than
// any real one is malformed; a file name that could step out of its folder
// (absolute, "..", a control byte) is left out.
//
// Threads: free functions, no state.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct SyncthingEvent {
  enum class Type {
    Other,
    LocalIndexUpdated,       // folder, names: a local change indexed
    RemoteIndexUpdated,      // folder, device: another device's index changed
    RemoteDownloadProgress,  // folder, device, blocks: how far it pulls our files
    ItemStarted,             // folder, item, action, itemType: a pull began
    ItemFinished,            // ... and ended; error when it failed
    DownloadProgress,        // progress: our pulls' bytes, by folder and item
    FolderCompletion,        // folder, device, needItems
    DeviceConnected,         // device
    DeviceDisconnected,      // device
    DevicePaused,            // device
    DeviceResumed,           // device
    FolderPaused,            // folder
    FolderResumed,           // folder
    FolderErrors,            // folder, errors (path, text)
    ConfigSaved,             // the configuration changed: folders re-read
  };
  std::int64_t id = 0;
  Type type = Type::Other;
  std::string folder;
  std::string device;
  std::string item;
  std::string action;    // "update", "delete", "metadata"
  std::string itemType;  // "file", "dir", "symlink"
  std::optional<std::string> error;
  std::int64_t needItems = 0;
  std::vector<std::string> names;
  std::map<std::string, std::int64_t> blocks;  // name → blocks the device has
  struct Bytes {
    std::int64_t done = 0;
    std::int64_t total = 0;
  };
  std::map<std::string, std::map<std::string, Bytes>> progress;  // folder → item → bytes
  std::vector<std::pair<std::string, std::string>> errors;       // path, text
};

// The event types asked for, comma-separated, as the long-poll's filter.
std::string SyncthingEventFilter();

// An event array of at most `mostEvents` (the page asked for); nothing when
// the text is not one. Events of other types are kept (as Other) so that
// their ids still advance the stream.
std::optional<std::vector<SyncthingEvent>> ParseSyncthingEvents(std::string_view json,
                                                                std::size_t mostEvents = SIZE_MAX);

struct SyncthingFolder {
  std::string id;
  std::string label;
  std::string path;
  bool paused = false;
  std::vector<std::string> devices;  // every device sharing it, this one too
};
std::optional<std::vector<SyncthingFolder>> ParseSyncthingFolders(std::string_view json);

// `/rest/system/status`: this device's id.
std::optional<std::string> ParseSyncthingOwnId(std::string_view json);

// `/rest/system/connections`: device → connected (paused devices are not).
std::optional<std::map<std::string, bool>> ParseSyncthingConnections(std::string_view json);

// `/rest/db/completion`: the items the device still needs.
std::optional<std::int64_t> ParseSyncthingNeedItems(std::string_view json);

// One page of names a device needs: another device's (`/rest/db/remoteneed`,
// its "files") or this one's (`/rest/db/need`, its "progress", "queued" and
// "rest", in that order; a page cuts across the three).
struct SyncthingNeedPage {
  std::vector<std::string> names;
  std::int64_t page = 1;
  std::int64_t perPage = 0;
};
std::optional<SyncthingNeedPage> ParseSyncthingNeedPage(std::string_view json);

// `/rest/db/file`: this device's record of one file.
struct SyncthingFileRecord {
  bool ignored = false;
  bool deleted = false;
  bool invalid = false;
  std::int64_t size = 0;
  bool localIsGlobal = false;  // our version is the newest anyone has
};
std::optional<SyncthingFileRecord> ParseSyncthingFileRecord(std::string_view json);

}  // namespace vantorel
