// SyncthingFiles' rules for each event of Syncthing's stream: local index
// updates, pulls started and finished, progress of both ways, completion,
// devices and folders coming and going, errors.

#include <algorithm>

#include "sources/syncthing/SyncthingFiles.h"
#include "sources/syncthing/SyncthingFilesRules.h"

namespace vantorel {

using namespace syncthing_files;

bool SyncthingFiles::NoteError(const std::string& path, const std::string& text, Effects& effects, bool say) {
  Entry& entry = entries_[path];
  entry.touched = applied_;
  if (!entry.error) effects.changed.push_back(path);
  entry.error = true;
  entry.downloading = false;
  if (!saidErrors_.emplace(path, text).second) return false;
  if (say) effects.lines.push_back(path + " could not be synchronised: " + text + ".");
  return true;
}

void SyncthingFiles::Apply(const SyncthingEvent& event, Effects& effects) {
  using Type = SyncthingEvent::Type;
  ++applied_;
  const SyncthingFolder* folder = event.folder.empty() ? nullptr : FolderById(event.folder);
  const auto pathOf = [folder](const std::string& relative) {
    return folder->path == "/" ? "/" + relative : folder->path + "/" + relative;
  };
  switch (event.type) {
    case Type::LocalIndexUpdated: {
      if (folder == nullptr) return;
      ++generation_;
      for (const std::string& name : event.names) {
        const std::string path = pathOf(name);
        const Stamp stamp = ContentStamp(path);
        auto it = entries_.find(path);
        // A pull updates the local index too: that is no change of ours.
        // Syncthing may index a pulled file before it says the pull ended
        // (two of its routines race), so a pull still running keeps it:
        // taken as a change of ours, the other device's need would end it
        // as an upload a moment before its ItemFinished arrives.
        if (it != entries_.end() && it->second.way == Way::Receiving &&
            (it->second.downloading || it->second.stamp == stamp)) {
          // A pull known only from the need, now indexed: the need says
          // whether it still waits (no event of its own may come).
          if (it->second.awaited && !ownDevice_.empty()) effects.refreshNeeds.insert({folder->id, ownDevice_});
          continue;
        }
        if (stamp.first < 0) {
          if (it != entries_.end()) entries_.erase(it);
          continue;  // a deletion: the tracker sees the file gone
        }
        Entry& entry = entries_[path];
        entry = Entry{};
        entry.touched = applied_;
        entry.way = Way::Sending;
        entry.indexed = true;
        entry.indexedAt = static_cast<std::uint32_t>(generation_);
        entry.stamp = stamp;
        saidErrors_.erase(path);
        // Until a device's need is read again, it needs what was just indexed.
        for (const std::string& device : folder->devices)
          if (device != ownDevice_) effects.refreshNeeds.insert({folder->id, device});
        effects.changed.push_back(path);
      }
      Sweep();
      return;
    }
    case Type::RemoteIndexUpdated:
      if (folder == nullptr || event.device == ownDevice_) return;
      effects.refreshNeeds.insert({folder->id, event.device});
      // What the others changed may be what this device now waits for.
      if (!ownDevice_.empty()) effects.refreshNeeds.insert({folder->id, ownDevice_});
      return;
    case Type::FolderCompletion: {
      if (folder == nullptr || event.device == ownDevice_) return;
      // Only a hint: the event can be older than the index update just
      // seen (it said 100 % while a file indexed a second before was still
      // on its way), so the need is read again, never taken from it.
      const auto it = needs_.find({folder->id, event.device});
      if (it == needs_.end() || it->second.generation < generation_ ||
          static_cast<std::int64_t>(it->second.names.size()) != event.needItems)
        effects.refreshNeeds.insert({folder->id, event.device});
      return;
    }
    case Type::RemoteDownloadProgress: {
      // Each event is the device's whole list for the folder: what it no
      // longer names has no percentage from it. Only its own last list is
      // looked at, so an event costs what it names, not the whole table.
      if (folder == nullptr || event.device == ownDevice_ ||
          std::find(folder->devices.begin(), folder->devices.end(), event.device) == folder->devices.end())
        return;
      std::vector<std::string>& named = reported_[{folder->id, event.device}];
      for (const std::string& path : named)
        if (const auto it = entries_.find(path); it != entries_.end() && it->second.way == Way::Sending)
          it->second.hundredths = -1;
      named.clear();
      for (const auto& [name, blocks] : event.blocks) {
        const auto it = entries_.find(pathOf(name));
        if (it == entries_.end() || it->second.way != Way::Sending) continue;
        it->second.hundredths = Hundredths(SyncthingBlocksPercent(blocks, it->second.stamp.first));
        it->second.touched = applied_;
        named.push_back(it->first);
      }
      return;
    }
    case Type::ItemStarted:
    case Type::ItemFinished: {
      if (folder == nullptr || event.item.empty() || event.itemType != "file" || event.action != "update") return;
      const std::string path = pathOf(event.item);
      Entry& entry = entries_[path];
      if (event.type == Type::ItemStarted) {
        entry = Entry{};
        entry.touched = applied_;
        entry.way = Way::Receiving;
        entry.downloading = true;
        entry.hundredths = 0;
        saidErrors_.erase(path);
      } else if (event.error) {
        NoteError(path, *event.error, effects);
        return;
      } else {
        entry.way = Way::Receiving;
        entry.touched = applied_;
        entry.downloading = false;
        entry.error = false;
        entry.hundredths = -1;
        entry.stamp = ContentStamp(path);
      }
      effects.changed.push_back(path);
      Sweep();
      return;
    }
    case Type::DownloadProgress:
      for (const auto& [folderId, items] : event.progress) {
        const SyncthingFolder* where = FolderById(folderId);
        if (where == nullptr) continue;
        for (const auto& [item, bytes] : items) {
          const auto it = entries_.find(where->path + "/" + item);
          if (it == entries_.end() || !it->second.downloading || bytes.total <= 0) continue;
          it->second.touched = applied_;
          it->second.hundredths = Hundredths(100.0 * static_cast<double>(bytes.done) / static_cast<double>(bytes.total));
        }
      }
      return;
    case Type::FolderErrors: {
      if (folder == nullptr) return;
      // A few are named; thousands (a folder gone bad) make one line.
      const bool each = event.errors.size() <= kErrorsNamed;
      std::vector<std::pair<std::string, std::string>> unsaid;
      for (const auto& [relative, text] : event.errors)
        if (NoteError(pathOf(relative), text, effects, each) && !each) unsaid.emplace_back(relative, text);
      if (unsaid.size() > kErrorsNamed) {
        std::string line = std::to_string(unsaid.size()) + " items of folder \"" + folder->id +
                           "\" could not be synchronised, among them ";
        for (std::size_t i = 0; i < kErrorsNamed; ++i)
          line += (i > 0 ? ", " : "") + unsaid[i].first + " (" + unsaid[i].second + ")";
        effects.lines.push_back(line + ".");
      } else {
        for (const auto& [relative, text] : unsaid)
          effects.lines.push_back(pathOf(relative) + " could not be synchronised: " + text + ".");
      }
      Sweep();
      return;
    }
    case Type::DeviceConnected:
    case Type::DeviceDisconnected:
    case Type::DevicePaused:
    case Type::DeviceResumed:
      connected_[event.device] = event.type == Type::DeviceConnected || event.type == Type::DeviceResumed;
      // A device that came back has news of its index.
      effects.refreshConnections = true;
      if (event.type == Type::DeviceConnected)
        for (const SyncthingFolder& shared : folders_)
          if (std::find(shared.devices.begin(), shared.devices.end(), event.device) != shared.devices.end())
            effects.refreshNeeds.insert({shared.id, event.device});
      return;
    case Type::FolderPaused:
    case Type::FolderResumed:
      for (SyncthingFolder& shared : folders_)
        if (shared.id == event.folder) shared.paused = event.type == Type::FolderPaused;
      return;
    case Type::ConfigSaved: effects.refreshFolders = true; return;
    case Type::Other: return;
  }
}

}  // namespace vantorel
