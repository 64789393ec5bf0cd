// One of Syncthing's answers, made of any bytes: it reads as a message or
// as nothing, never crashes or runs away, and nothing it names can step out
// of a folder. Built once per reader (SYNCTHING_READER picks which), so each
// has a corpus of its own, seeded with answers of a real pair.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sources/syncthing/SyncthingMessages.h"
#include "units/fs/PathSafety.h"

namespace {

using namespace vantorel;

void MustBeName(const std::string& name) {
  if (!IsPlainRelativePath(name)) __builtin_trap();
}

void Events(std::string_view text) {
  const auto events = ParseSyncthingEvents(text, 1000);
  if (!events) return;
  if (events->size() > 1000) __builtin_trap();
  for (const SyncthingEvent& event : *events) {
    if (event.id <= 0) __builtin_trap();
    if (!event.item.empty()) MustBeName(event.item);
    for (const std::string& name : event.names) MustBeName(name);
    for (const auto& [name, blocks] : event.blocks) MustBeName(name);
    for (const auto& [path, error] : event.errors) MustBeName(path);
    for (const auto& [folder, items] : event.progress)
      for (const auto& [item, bytes] : items) MustBeName(item);
  }
}

void Folders(std::string_view text) {
  const auto folders = ParseSyncthingFolders(text);
  if (!folders) return;
  for (const SyncthingFolder& folder : *folders)
    if (folder.id.empty() || folder.path.empty()) __builtin_trap();
}

void Completion(std::string_view text) {
  ParseSyncthingNeedItems(text);
  ParseSyncthingConnections(text);
  if (const auto id = ParseSyncthingOwnId(text); id && id->empty()) __builtin_trap();
}

void Need(std::string_view text) {
  if (const auto page = ParseSyncthingNeedPage(text))
    for (const std::string& name : page->names) MustBeName(name);
}

void Record(std::string_view text) { ParseSyncthingFileRecord(text); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  switch (SYNCTHING_READER) {
    case 0: Events(text); break;
    case 1: Folders(text); break;
    case 2: Completion(text); break;
    case 3: Need(text); break;
    default: Record(text); break;
  }
  return 0;
}
