#pragma once
// What Syncthing has told of the files in its folders, and the answers the
// tracker's questions get from it. Fed with parsed events and REST answers;
// makes no request itself (it says which answers it needs next).
//
// The rules:
// - tracked: inside a Syncthing folder, not ignored, not one of Syncthing's
//   own markers (.stfolder, .stignore, .stversions);
// - a local change (a file changed since watching began, or indexed by
//   Syncthing as a local change) goes out: uploading until at least one
//   other device sharing the folder has the version indexed here, then
//   uploaded. One device is enough: the file is then off this machine, which
//   is what "safe to shut down" needs; asking for all would leave a file
//   uploading while any device sharing the folder is switched off;
// - a pull (ItemStarted … ItemFinished) comes in: downloading while it
//   runs, received when it ended with the file's content unchanged since;
//   ".syncthing.NAME.tmp" is its temporary file;
// - what was pending before anyone listened (at launch, after Syncthing
//   came back) is read from the devices' needs: a file here that every
//   other device still needs is uploading, a file this device needs is
//   downloading (waiting for its pull) until the need no longer names it;
// - an error on an item (a failed pull, a folder error) is kept until the
//   item is indexed or pulled again.
//
// Threads: none of its own; its owner serialises every call (one mutex).
// Its members are defined in SyncthingFiles.cpp and, the rules for each
// event, SyncthingFilesEvents.cpp.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/ItemStateSource.h"
#include "sources/syncthing/SyncthingMessages.h"

namespace vantorel {

// ".syncthing.NAME.tmp" in the same folder: the file NAME is written to
// while it arrives.
bool IsSyncthingTemporary(std::string_view path);
std::optional<std::string> ItemOfSyncthingTemporary(std::string_view path);
std::string SyncthingTemporaryOf(std::string_view item);

// The share of a file of `size` bytes that `blocks` of Syncthing's blocks
// make, 0 to 100 (its block size grows with the file).
double SyncthingBlocksPercent(std::int64_t blocks, std::int64_t size);

class SyncthingFiles {
public:
  // What follows from an event or an answer.
  struct Effects {
    std::vector<std::string> changed;                            // paths to examine again
    std::set<std::pair<std::string, std::string>> refreshNeeds;  // (folder, device) whose need to read
    bool refreshFolders = false;
    bool refreshConnections = false;
    std::vector<std::string> lines;  // said once each
  };

  // `watchStart`: wall-clock seconds since which a changed file is a local
  // change (older files are taken as synchronised already).
  explicit SyncthingFiles(double watchStart = 0.0);

  void SetOwnDevice(std::string id) { ownDevice_ = std::move(id); }
  const std::string& OwnDevice() const { return ownDevice_; }
  void SetFolders(std::vector<SyncthingFolder> folders, Effects& effects);
  const std::vector<SyncthingFolder>& Folders() const { return folders_; }
  std::vector<std::string> Roots() const;
  void SetConnections(const std::map<std::string, bool>& connected, Effects& effects);
  // At least one device sharing a folder (other than this one) is connected.
  bool AnyPeerConnected() const;
  // The folder the user watches: its pause is that of the Syncthing
  // folders holding it or inside it (every folder when none is).
  void SetWatchedFolder(std::string path) { watched_ = std::move(path); }
  std::vector<const SyncthingFolder*> WatchedFolders() const;
  bool WatchedFoldersPaused() const;
  // Why none of its folders can move files now (every one paused, or no
  // other device sharing any of them connected); nothing while one can.
  std::optional<std::string> WaitingFor() const;
  // Counts local index updates: a device's need read after generation G
  // is its word on every version indexed up to G, not on later ones.
  std::uint64_t IndexGeneration() const { return generation_; }
  // Counts the events applied: a need asked for after E events may still
  // name a pull whose end was heard of after it.
  std::uint32_t EventsApplied() const { return applied_; }
  // The complete list of what `device` still needs of `folder`, as read
  // after `generation` (and `eventsApplied` events); this device's own
  // need lists the pulls it waits for.
  void SetNeed(const std::string& folder, const std::string& device, std::unordered_set<std::string> names,
               std::uint64_t generation, Effects& effects, std::uint32_t eventsApplied = UINT32_MAX);
  void Apply(const SyncthingEvent& event, Effects& effects);
  // Syncthing's record of a file that waited long to be indexed (nothing:
  // it has none).
  void ApplyRecord(const std::string& path, const std::optional<SyncthingFileRecord>& record, Effects& effects);
  // Local changes still not indexed `wait` seconds after they were first
  // seen (steady seconds `now`), to ask Syncthing about; each returned once
  // per wait.
  std::vector<std::pair<std::string, std::string>> OverdueChanges(double now, double wait);  // folder id, relative
  // Syncthing restarted or came back: what it said of transfers may be
  // out of date, every device's need is read again.
  void Reconnected(Effects& effects);

  bool IsInStore(const std::string& path) const;
  bool IsTracked(const std::string& path) const;
  // Not const: a path first asked about may become a local change.
  bool IsUploaded(const std::string& path, double steadyNow);
  bool IsDownloading(const std::string& path) const;
  std::optional<double> PercentDone(const std::string& path) const;
  bool IsInError(const std::string& path) const;
  std::string ErrorText(const std::string& path) const;
  TransferDirection DirectionOf(const std::string& path) const;
  std::string DescribeItem(const std::string& path) const;

  std::size_t EntryCount() const { return entries_.size(); }

private:
  using Stamp = std::pair<std::int64_t, std::int64_t>;
  enum class Way : std::uint8_t { Sending, Receiving };
  struct Entry {
    Stamp stamp{-1, 0};        // content indexed (Sending) or received (Receiving)
    double pendingSince = 0;   // Sending, not indexed: steady time first seen
    std::uint32_t indexedAt = 0;  // Sending, indexed: the index generation
    std::uint32_t touched = 0;    // the event that last named it
    // How far its transfer came, in hundredths of a percent; -1 where not
    // known (two bytes: a table of many files stays small).
    std::int16_t hundredths = -1;
    Way way = Way::Sending;
    bool indexed = false;      // Sending: the stamp's content is in the index
    bool downloading = false;  // Receiving: a pull runs
    bool awaited = false;      // Receiving: known only from this device's need
    bool error = false;
    bool ignored = false;
  };
  struct Need {
    bool known = false;
    std::uint64_t generation = 0;  // read after this index generation
    std::unordered_set<std::string> names;
  };

  const SyncthingFolder* FolderOf(const std::string& path, std::string* relative) const;
  const SyncthingFolder* FolderById(const std::string& id) const;
  bool NeededEverywhere(const SyncthingFolder& folder, const std::string& relative, std::uint64_t indexedAt) const;
  bool SentAndArrived(const std::string& path) const;
  bool AllNeedsKnown(const SyncthingFolder& folder) const;
  // A need read anew: files pending since before anyone listened.
  void AdoptUploads(const SyncthingFolder& folder, const std::unordered_set<std::string>& names, Effects& effects);
  void AdoptPulls(const SyncthingFolder& folder, const std::unordered_set<std::string>& names, Effects& effects,
                  std::uint32_t eventsApplied);
  // False when the error was known already; `say`: a line of its own.
  bool NoteError(const std::string& path, const std::string& text, Effects& effects, bool say = true);
  void Sweep();

  double watchStart_;
  std::uint64_t generation_ = 0;
  std::uint32_t applied_ = 0;  // events applied, for how recently an entry was heard of
  std::string ownDevice_;
  std::string watched_;
  std::vector<SyncthingFolder> folders_;
  std::map<std::string, bool> connected_;
  std::map<std::pair<std::string, std::string>, Need> needs_;  // (folder, device)
  std::unordered_map<std::string, Entry> entries_;             // by absolute path
  std::unordered_map<std::string, std::string> saidErrors_;  // path → Syncthing's words
  std::unordered_set<std::string> saidRefused_;  // folders not followed, as Syncthing wrote them
  // (folder, device) → the paths its last RemoteDownloadProgress gave a percentage.
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> reported_;
};

}  // namespace vantorel
