#include "sources/syncthing/SyncthingFiles.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "sources/syncthing/SyncthingFilesRules.h"
#include "units/fs/PathSafety.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

using namespace syncthing_files;

namespace {

constexpr std::string_view kTemporaryPrefix = ".syncthing.";
constexpr std::string_view kTemporarySuffix = ".tmp";
// Entries kept before the settled ones are swept out; past it after that
// (a client reporting pulls it never ends), the longest unheard of go too.
constexpr std::size_t kMostEntries = 100000;
// Seconds of slack between a file's change time and when watching began.
constexpr double kChangeSlack = 2.0;

bool IsMarker(std::string_view relative) {
  for (std::string_view rest = relative; !rest.empty();) {
    const auto slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == ".stfolder" || part == ".stignore" || part == ".stversions") return true;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return false;
}

}  // namespace

bool IsSyncthingTemporary(std::string_view path) { return ItemOfSyncthingTemporary(path).has_value(); }

std::optional<std::string> ItemOfSyncthingTemporary(std::string_view path) {
  const std::string_view name = lastPathComponentView(path);
  if (name.size() <= kTemporaryPrefix.size() + kTemporarySuffix.size() || !name.starts_with(kTemporaryPrefix) ||
      !name.ends_with(kTemporarySuffix))
    return std::nullopt;
  const std::string_view item =
      name.substr(kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
  return std::string(parentPathView(path)) + "/" + std::string(item);
}

std::string SyncthingTemporaryOf(std::string_view item) {
  return std::string(parentPathView(item)) + "/" + std::string(kTemporaryPrefix) +
         std::string(lastPathComponentView(item)) + std::string(kTemporarySuffix);
}

double SyncthingBlocksPercent(std::int64_t blocks, std::int64_t size) {
  if (size <= 0 || blocks <= 0) return 0.0;
  // The smallest power-of-two block from 128 KiB to 16 MiB that cuts the
  // file into fewer than 2000 blocks.
  std::int64_t block = 128 * 1024;
  while (block < 16 * 1024 * 1024 && size >= 2000 * block) block *= 2;
  return std::min(100.0, 100.0 * static_cast<double>(blocks * block) / static_cast<double>(size));
}

SyncthingFiles::SyncthingFiles(double watchStart) : watchStart_(watchStart) {}

void SyncthingFiles::SetFolders(std::vector<SyncthingFolder> folders, Effects& effects) {
  folders_.clear();
  for (SyncthingFolder& folder : folders) {
    // Syncthing keeps a path as it was typed: "~/Sync" is under the home
    // of the user it runs as, who is this one (its config.xml is ours).
    const auto path = folderSettingPath(folder.path);
    std::optional<std::string> why;
    if (!path)
      why = "it is not an absolute path";
    else
      why = WhyNotASyncRoot(*path);
    if (why) {
      if (saidRefused_.insert(folder.path).second)
        effects.lines.push_back("not following folder \"" + folder.id + "\" at " + folder.path + ": " + *why + ".");
      continue;
    }
    folder.path = *path;
    folders_.push_back(std::move(folder));
  }
  // Longer paths first: a folder inside another answers for its own files.
  std::sort(folders_.begin(), folders_.end(),
            [](const SyncthingFolder& a, const SyncthingFolder& b) { return a.path.size() > b.path.size(); });
  std::erase_if(reported_, [this](const auto& report) { return FolderById(report.first.first) == nullptr; });
  std::erase_if(needs_, [this](const auto& need) {
    const SyncthingFolder* folder = FolderById(need.first.first);
    return folder == nullptr ||
           std::find(folder->devices.begin(), folder->devices.end(), need.first.second) == folder->devices.end();
  });
  for (const SyncthingFolder& folder : folders_) {
    for (const std::string& device : folder.devices)
      if (device != ownDevice_ && !needs_[{folder.id, device}].known) effects.refreshNeeds.insert({folder.id, device});
    if (!ownDevice_.empty() && !needs_[{folder.id, ownDevice_}].known) effects.refreshNeeds.insert({folder.id, ownDevice_});
  }
}

std::vector<std::string> SyncthingFiles::Roots() const {
  std::vector<std::string> roots;
  for (const SyncthingFolder& folder : folders_) roots.push_back(folder.path);
  return roots;
}

void SyncthingFiles::SetConnections(const std::map<std::string, bool>& connected, Effects&) { connected_ = connected; }

bool SyncthingFiles::AnyPeerConnected() const {
  for (const SyncthingFolder& folder : folders_)
    for (const std::string& device : folder.devices)
      if (device != ownDevice_) {
        const auto it = connected_.find(device);
        if (it != connected_.end() && it->second) return true;
      }
  return false;
}

std::vector<const SyncthingFolder*> SyncthingFiles::WatchedFolders() const {
  std::vector<const SyncthingFolder*> chosen;
  if (!watched_.empty())
    for (const SyncthingFolder& folder : folders_)
      if (IsUnder(watched_, folder.path) || IsUnder(folder.path, watched_)) chosen.push_back(&folder);
  if (chosen.empty())
    for (const SyncthingFolder& folder : folders_) chosen.push_back(&folder);
  return chosen;
}

bool SyncthingFiles::WatchedFoldersPaused() const {
  const auto chosen = WatchedFolders();
  return !chosen.empty() && std::all_of(chosen.begin(), chosen.end(), [](const auto* folder) { return folder->paused; });
}

std::optional<std::string> SyncthingFiles::WaitingFor() const {
  if (folders_.empty()) return std::nullopt;
  // Folders are named as the user sees them: "~/Sync" for one under home.
  const char* home = std::getenv("HOME");
  const auto named = [home](const std::string& path) {
    const std::string_view mine = home != nullptr ? home : "";
    if (!mine.empty() && mine != "/" && IsWithinFolder(path, std::string(mine)))
      return "~" + path.substr(mine.size());
    return path;
  };
  if (const auto chosen = WatchedFolders(); WatchedFoldersPaused())
    return chosen.size() == 1 ? named(chosen[0]->path) + " is paused in Syncthing."
                              : std::string("Every folder is paused in Syncthing.");
  if (!AnyPeerConnected())
    return folders_.size() == 1 ? "Waiting: no other device sharing " + named(folders_[0].path) + " is connected."
                                : std::string("Waiting: no other device sharing its folders is connected.");
  return std::nullopt;
}

const SyncthingFolder* SyncthingFiles::FolderOf(const std::string& path, std::string* relative) const {
  for (const SyncthingFolder& folder : folders_)
    if (IsUnder(path, folder.path)) {
      if (relative != nullptr)
        *relative = path.size() > folder.path.size() ? path.substr(folder.path == "/" ? 1 : folder.path.size() + 1)
                                                     : std::string();
      return &folder;
    }
  return nullptr;
}

const SyncthingFolder* SyncthingFiles::FolderById(const std::string& id) const {
  for (const SyncthingFolder& folder : folders_)
    if (folder.id == id) return &folder;
  return nullptr;
}

bool SyncthingFiles::NeededEverywhere(const SyncthingFolder& folder, const std::string& relative,
                                      std::uint64_t indexedAt) const {
  for (const std::string& device : folder.devices) {
    if (device == ownDevice_) continue;
    const auto it = needs_.find({folder.id, device});
    // A need read before the version was indexed says nothing of it.
    if (it != needs_.end() && it->second.known && it->second.generation >= indexedAt &&
        it->second.names.count(relative) == 0)
      return false;
  }
  return true;
}

bool SyncthingFiles::SentAndArrived(const std::string& path) const {
  const auto it = entries_.find(path);
  if (it == entries_.end() || it->second.way != Way::Sending || !it->second.indexed) return false;
  std::string relative;
  const SyncthingFolder* folder = FolderOf(path, &relative);
  return folder != nullptr && !NeededEverywhere(*folder, relative, it->second.indexedAt);
}

void SyncthingFiles::SetNeed(const std::string& folderId, const std::string& device,
                             std::unordered_set<std::string> names, std::uint64_t generation, Effects& effects,
                             std::uint32_t eventsApplied) {
  const SyncthingFolder* folder = FolderById(folderId);
  if (folder == nullptr) return;
  // Which of the files sent from here now read differently.
  std::vector<std::pair<const std::string*, bool>> before;
  for (const auto& [path, entry] : entries_)
    if (entry.way == Way::Sending && entry.indexed && IsUnder(path, folder->path))
      before.emplace_back(&path, SentAndArrived(path));
  Need& need = needs_[{folderId, device}];
  // Answers may cross: an older read never replaces a newer one.
  if (need.known && need.generation > generation) return;
  need.known = true;
  need.generation = generation;
  need.names = std::move(names);
  if (device == ownDevice_) {
    AdoptPulls(*folder, need.names, effects, eventsApplied);
    return;
  }
  for (const auto& [path, arrived] : before)
    if (SentAndArrived(*path) != arrived) effects.changed.push_back(*path);
  AdoptUploads(*folder, need.names, effects);
}

bool SyncthingFiles::AllNeedsKnown(const SyncthingFolder& folder) const {
  return std::all_of(folder.devices.begin(), folder.devices.end(), [&](const std::string& device) {
    const auto it = needs_.find({folder.id, device});
    return device == ownDevice_ || (it != needs_.end() && it->second.known);
  });
}

void SyncthingFiles::AdoptUploads(const SyncthingFolder& folder, const std::unordered_set<std::string>& names,
                                  Effects& effects) {
  // Until every device has answered, one that has the file already may not
  // have said so: adopting it then would end as a false completion.
  if (!AllNeedsKnown(folder)) return;
  for (const std::string& name : names) {
    const std::string path = folder.path == "/" ? "/" + name : folder.path + "/" + name;
    if (entries_.count(path) > 0 || IsMarker(name) || !NeededEverywhere(folder, name, 0)) continue;
    const Stamp stamp = ContentStamp(path);
    if (stamp.first < 0) continue;  // a deletion the others still need: no file to show
    Entry entry;
    entry.way = Way::Sending;
    entry.indexed = true;  // indexed before: its generation is before every need read
    entry.stamp = stamp;
    entry.touched = applied_;
    entries_.emplace(path, entry);
    effects.changed.push_back(path);
  }
  Sweep();
}

void SyncthingFiles::AdoptPulls(const SyncthingFolder& folder, const std::unordered_set<std::string>& names,
                                Effects& effects, std::uint32_t eventsApplied) {
  const auto pathOf = [&folder](const std::string& name) {
    return folder.path == "/" ? "/" + name : folder.path + "/" + name;
  };
  // A pull waited for and no longer needed: it ran while nobody listened,
  // or the others changed their minds. The file on disk decides.
  for (auto& [path, entry] : entries_) {
    if (!entry.awaited || !IsUnder(path, folder.path)) continue;
    std::string relative;
    if (FolderOf(path, &relative) != &folder || names.count(relative) > 0) continue;
    entry.awaited = false;
    entry.downloading = false;
    entry.stamp = ContentStamp(path);
    effects.changed.push_back(path);
    effects.changed.push_back(SyncthingTemporaryOf(path));
  }
  for (const std::string& name : names) {
    if (IsMarker(name)) continue;
    const std::string path = pathOf(name);
    auto [it, added] = entries_.try_emplace(path);
    Entry& entry = it->second;
    // A pull already under way, one that ended after the need was asked
    // (the answer crossed it), or a change of ours the others have not got
    // (a conflict is Syncthing's to settle) keep what they are.
    if (!added && (entry.downloading || (entry.way == Way::Receiving && entry.touched > eventsApplied) ||
                   (entry.way == Way::Sending && !SentAndArrived(path))))
      continue;
    entry = Entry{};
    entry.way = Way::Receiving;
    entry.downloading = true;
    entry.awaited = true;
    entry.touched = applied_;
    // Seen under its temporary file, as a pull is, whether or not the file
    // is here in an older version.
    effects.changed.push_back(SyncthingTemporaryOf(path));
  }
  Sweep();
}

void SyncthingFiles::ApplyRecord(const std::string& path, const std::optional<SyncthingFileRecord>& record,
                                 Effects& effects) {
  const auto it = entries_.find(path);
  if (it == entries_.end() || it->second.way != Way::Sending || it->second.indexed) return;
  Entry& entry = it->second;
  if (record && record->ignored) {
    entry.ignored = true;
    effects.changed.push_back(path);
    return;
  }
  const Stamp stamp = ContentStamp(path);
  // Indexed while nobody listened (an event missed, a restart): the record
  // has the file as it is now.
  if (record && !record->deleted && !record->invalid && record->size == stamp.first) {
    entry.indexed = true;
    entry.indexedAt = static_cast<std::uint32_t>(++generation_);
    entry.stamp = stamp;
    std::string relative;
    if (const SyncthingFolder* folder = FolderOf(path, &relative))
      for (const std::string& device : folder->devices)
        if (device != ownDevice_) effects.refreshNeeds.insert({folder->id, device});
    effects.changed.push_back(path);
  }
}

std::vector<std::pair<std::string, std::string>> SyncthingFiles::OverdueChanges(double now, double wait) {
  std::vector<std::pair<std::string, std::string>> overdue;
  for (auto& [path, entry] : entries_) {
    if (entry.way != Way::Sending || entry.indexed || entry.ignored || now - entry.pendingSince < wait) continue;
    std::string relative;
    const SyncthingFolder* folder = FolderOf(path, &relative);
    if (folder == nullptr || relative.empty()) continue;
    // Asked again after every further wait.
    entry.pendingSince = now;
    overdue.emplace_back(folder->id, relative);
  }
  return overdue;
}

void SyncthingFiles::Reconnected(Effects& effects) {
  for (auto& [path, entry] : entries_) {
    // Changes made while Syncthing was away (or whose index update went
    // with its old event stream) are asked about at the next look, not
    // after the whole wait: it indexes them as it starts.
    if (entry.way == Way::Sending && !entry.indexed) entry.pendingSince = -std::numeric_limits<double>::infinity();
    if (entry.downloading) {
      // A pull cut short by a restart starts again, or is gone: the file on
      // disk decides.
      entry.downloading = false;
      entry.stamp = ContentStamp(path);
      effects.changed.push_back(path);
    }
    entry.hundredths = -1;
  }
  for (auto& [key, need] : needs_) effects.refreshNeeds.insert(key);
  effects.refreshFolders = true;
  effects.refreshConnections = true;
}

bool SyncthingFiles::IsInStore(const std::string& path) const { return FolderOf(path, nullptr) != nullptr; }

bool SyncthingFiles::IsTracked(const std::string& path) const {
  std::string relative;
  if (FolderOf(path, &relative) == nullptr || IsMarker(relative)) return false;
  const auto it = entries_.find(path);
  return it == entries_.end() || !it->second.ignored;
}

bool SyncthingFiles::IsUploaded(const std::string& path, double steadyNow) {
  std::string relative;
  const SyncthingFolder* folder = FolderOf(path, &relative);
  if (folder == nullptr) return false;
  double changed = 0.0;
  const Stamp now = ContentStamp(path, &changed);
  auto it = entries_.find(path);
  if (it == entries_.end()) {
    // Not changed while watched: synchronised before.
    if (now.first < 0 || changed < watchStart_ - kChangeSlack) return true;
    Entry entry;
    entry.pendingSince = steadyNow;
    entry.touched = applied_;
    it = entries_.emplace(path, entry).first;
    Sweep();
    return false;
  }
  Entry& entry = it->second;
  if (entry.way == Way::Receiving) {
    if (entry.downloading) return false;
    if (entry.stamp == now) return true;
    // Changed here since it arrived: a local change now.
    entry = Entry{};
    entry.pendingSince = steadyNow;
    entry.touched = applied_;
    return false;
  }
  if (!entry.indexed) return false;
  if (entry.stamp != now) {
    // Changed again after it was indexed: waits for the next indexing.
    entry.indexed = false;
    entry.pendingSince = steadyNow;
    return false;
  }
  return !NeededEverywhere(*folder, relative, entry.indexedAt);
}

bool SyncthingFiles::IsDownloading(const std::string& path) const {
  const auto it = entries_.find(path);
  return it != entries_.end() && it->second.downloading;
}

std::optional<double> SyncthingFiles::PercentDone(const std::string& path) const {
  const auto it = entries_.find(path);
  if (it == entries_.end() || it->second.hundredths < 0) return std::nullopt;
  return it->second.hundredths / 100.0;
}

bool SyncthingFiles::IsInError(const std::string& path) const {
  const auto it = entries_.find(path);
  return it != entries_.end() && it->second.error;
}

std::string SyncthingFiles::ErrorText(const std::string& path) const {
  const auto it = saidErrors_.find(path);
  return it != saidErrors_.end() && IsInError(path) ? it->second : std::string();
}

TransferDirection SyncthingFiles::DirectionOf(const std::string& path) const {
  const auto it = entries_.find(path);
  if (it == entries_.end()) return TransferDirection::Unknown;
  return it->second.way == Way::Sending ? TransferDirection::Sending : TransferDirection::Receiving;
}

std::string SyncthingFiles::DescribeItem(const std::string& path) const {
  std::string relative;
  const SyncthingFolder* folder = FolderOf(path, &relative);
  if (folder == nullptr) return "not in a Syncthing folder";
  const auto it = entries_.find(path);
  std::string text = "in folder \"" + folder->id + "\"";
  if (it == entries_.end()) return text + ", unchanged while watched";
  const Entry& entry = it->second;
  if (entry.ignored) return text + ", ignored";
  if (entry.error) return text + ", in error";
  if (entry.way == Way::Receiving) return text + (entry.downloading ? ", arriving" : ", received");
  if (!entry.indexed) return text + ", changed here, waiting to be indexed";
  return text + (NeededEverywhere(*folder, relative, entry.indexedAt) ? ", indexed, not yet on another device"
                                                      : ", on at least one other device");
}

void SyncthingFiles::Sweep() {
  if (entries_.size() < kMostEntries) return;
  // Settled entries go first: files that arrived, or reached another device.
  std::vector<std::string> settled;
  for (const auto& [path, entry] : entries_)
    if ((entry.way == Way::Receiving && !entry.downloading) || SentAndArrived(path)) settled.push_back(path);
  for (const std::string& path : settled) entries_.erase(path);
  if (entries_.size() < kMostEntries * 3 / 4) return;
  // Still full: pulls that never ended, errors on files never seen again.
  // The half heard of longest ago is forgotten (a file still changing here
  // is found again when it is asked about).
  std::vector<std::pair<std::uint32_t, const std::string*>> byAge;
  byAge.reserve(entries_.size());
  for (const auto& [path, entry] : entries_) byAge.emplace_back(entry.touched, &path);
  const auto middle = byAge.begin() + static_cast<std::ptrdiff_t>(byAge.size() / 2);
  std::nth_element(byAge.begin(), middle, byAge.end());
  std::vector<std::string> old;
  for (auto it = byAge.begin(); it != middle; ++it) old.push_back(*it->second);
  for (const std::string& path : old) {
    saidErrors_.erase(path);
    entries_.erase(path);
  }
  for (auto& [key, paths] : reported_)
    std::erase_if(paths, [this](const std::string& path) { return entries_.count(path) == 0; });
}

}  // namespace vantorel
