#include "sources/syncthing/SyncthingMessages.h"

// The JSON library is used only in the files that read a client's answers:
// its templates cost compile time in every file that includes it.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <utility>

#include "sources/JsonBounds.h"
#include "units/fs/PathSafety.h"

namespace vantorel {

namespace {

using Json = nlohmann::json;

std::optional<Json> Parsed(std::string_view text, std::size_t mostItems = SIZE_MAX) {
  if (LargerThanAnyRealAnswer(text, kDeepestJsonNesting, mostItems)) return std::nullopt;
  Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

std::string StringAt(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A file's name within its folder: one that cannot step out of it, else
// nothing (a lying client's "../../etc/passwd" or a name with a NUL).
std::string NameAt(const Json& object, const char* key) {
  std::string name = StringAt(object, key);
  return IsPlainRelativePath(name) ? name : std::string();
}

// A count or size; a number no real answer holds (1e300, a size past what
// 64 bits count, a fraction that is not finite) reads as 0, never as a
// conversion whose result the language leaves undefined.
std::int64_t IntegerAt(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return 0;
  if (it->is_number_unsigned()) {
    const auto value = it->get<std::uint64_t>();
    return value > static_cast<std::uint64_t>(INT64_MAX) ? 0 : static_cast<std::int64_t>(value);
  }
  if (!it->is_number_float()) return it->get<std::int64_t>();
  const double value = it->get<double>();
  // 2^63 is exact as a double; every finite value below it in magnitude converts.
  constexpr double kLimit = 9223372036854775808.0;
  return std::isfinite(value) && value > -kLimit && value < kLimit ? static_cast<std::int64_t>(value) : 0;
}

bool BoolAt(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

constexpr std::pair<const char*, SyncthingEvent::Type> kTypes[] = {
    {"LocalIndexUpdated", SyncthingEvent::Type::LocalIndexUpdated},
    {"RemoteIndexUpdated", SyncthingEvent::Type::RemoteIndexUpdated},
    {"RemoteDownloadProgress", SyncthingEvent::Type::RemoteDownloadProgress},
    {"ItemStarted", SyncthingEvent::Type::ItemStarted},
    {"ItemFinished", SyncthingEvent::Type::ItemFinished},
    {"DownloadProgress", SyncthingEvent::Type::DownloadProgress},
    {"FolderCompletion", SyncthingEvent::Type::FolderCompletion},
    {"DeviceConnected", SyncthingEvent::Type::DeviceConnected},
    {"DeviceDisconnected", SyncthingEvent::Type::DeviceDisconnected},
    {"DevicePaused", SyncthingEvent::Type::DevicePaused},
    {"DeviceResumed", SyncthingEvent::Type::DeviceResumed},
    {"FolderPaused", SyncthingEvent::Type::FolderPaused},
    {"FolderResumed", SyncthingEvent::Type::FolderResumed},
    {"FolderErrors", SyncthingEvent::Type::FolderErrors},
    {"ConfigSaved", SyncthingEvent::Type::ConfigSaved},
};

SyncthingEvent::Type TypeNamed(const std::string& name) {
  for (const auto& [text, type] : kTypes)
    if (name == text) return type;
  return SyncthingEvent::Type::Other;
}

void ReadData(const Json& data, SyncthingEvent& event) {
  event.folder = StringAt(data, "folder");
  // Device events name the device "id"; the others "device".
  event.device = StringAt(data, "device");
  switch (event.type) {
    case SyncthingEvent::Type::DeviceConnected:
    case SyncthingEvent::Type::DeviceDisconnected:
    case SyncthingEvent::Type::DevicePaused:
    case SyncthingEvent::Type::DeviceResumed: event.device = StringAt(data, "id"); break;
    case SyncthingEvent::Type::FolderPaused:
    case SyncthingEvent::Type::FolderResumed: event.folder = StringAt(data, "id"); break;
    default: break;
  }
  event.item = NameAt(data, "item");
  event.action = StringAt(data, "action");
  event.itemType = StringAt(data, "type");
  event.needItems = IntegerAt(data, "needItems");
  if (const auto error = data.find("error"); error != data.end() && error->is_string())
    event.error = error->get<std::string>();
  if (const auto names = data.find("filenames"); names != data.end() && names->is_array())
    for (const Json& name : *names)
      if (name.is_string() && IsPlainRelativePath(name.get_ref<const std::string&>()))
        event.names.push_back(name.get<std::string>());
  if (const auto state = data.find("state"); state != data.end() && state->is_object())
    for (const auto& [name, count] : state->items())
      if (count.is_number_integer() && IsPlainRelativePath(name)) event.blocks[name] = count.get<std::int64_t>();
  if (const auto errors = data.find("errors"); errors != data.end() && errors->is_array())
    for (const Json& error : *errors)
      if (error.is_object() && !NameAt(error, "path").empty())
        event.errors.emplace_back(NameAt(error, "path"), StringAt(error, "error"));
  if (event.type == SyncthingEvent::Type::DownloadProgress) {
    // {folder: {item: {bytesDone, bytesTotal, ...}}}
    for (const auto& [folder, items] : data.items()) {
      if (!items.is_object()) continue;
      for (const auto& [item, bytes] : items.items())
        if (bytes.is_object() && IsPlainRelativePath(item))
          event.progress[folder][item] = {IntegerAt(bytes, "bytesDone"), IntegerAt(bytes, "bytesTotal")};
    }
  }
}

}  // namespace

std::string SyncthingEventFilter() {
  std::string filter;
  for (const auto& [text, type] : kTypes) filter += (filter.empty() ? "" : ",") + std::string(text);
  return filter;
}

std::optional<std::vector<SyncthingEvent>> ParseSyncthingEvents(std::string_view text, std::size_t mostEvents) {
  const auto json = Parsed(text, mostEvents);
  if (!json || !json->is_array()) return std::nullopt;
  std::vector<SyncthingEvent> events;
  events.reserve(json->size());
  for (const Json& entry : *json) {
    if (!entry.is_object()) return std::nullopt;
    SyncthingEvent event;
    event.id = IntegerAt(entry, "id");
    if (event.id <= 0) return std::nullopt;
    event.type = TypeNamed(StringAt(entry, "type"));
    if (const auto data = entry.find("data"); data != entry.end() && data->is_object()) ReadData(*data, event);
    events.push_back(std::move(event));
  }
  return events;
}

std::optional<std::vector<SyncthingFolder>> ParseSyncthingFolders(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_array()) return std::nullopt;
  std::vector<SyncthingFolder> folders;
  for (const Json& entry : *json) {
    if (!entry.is_object()) return std::nullopt;
    SyncthingFolder folder;
    folder.id = StringAt(entry, "id");
    folder.label = StringAt(entry, "label");
    folder.path = StringAt(entry, "path");
    folder.paused = BoolAt(entry, "paused");
    if (folder.id.empty() || folder.path.empty()) return std::nullopt;
    if (const auto devices = entry.find("devices"); devices != entry.end() && devices->is_array())
      for (const Json& device : *devices)
        if (device.is_object() && !StringAt(device, "deviceID").empty())
          folder.devices.push_back(StringAt(device, "deviceID"));
    folders.push_back(std::move(folder));
  }
  return folders;
}

std::optional<std::string> ParseSyncthingOwnId(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_object()) return std::nullopt;
  std::string id = StringAt(*json, "myID");
  if (id.empty()) return std::nullopt;
  return id;
}

std::optional<std::map<std::string, bool>> ParseSyncthingConnections(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_object()) return std::nullopt;
  const auto connections = json->find("connections");
  if (connections == json->end() || !connections->is_object()) return std::nullopt;
  std::map<std::string, bool> connected;
  for (const auto& [device, state] : connections->items())
    connected[device] = state.is_object() && BoolAt(state, "connected") && !BoolAt(state, "paused");
  return connected;
}

std::optional<std::int64_t> ParseSyncthingNeedItems(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_object() || !json->contains("needItems")) return std::nullopt;
  return IntegerAt(*json, "needItems");
}

std::optional<SyncthingNeedPage> ParseSyncthingNeedPage(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_object()) return std::nullopt;
  SyncthingNeedPage page;
  page.page = IntegerAt(*json, "page");
  page.perPage = IntegerAt(*json, "perpage");
  bool any = false;
  for (const char* list : {"files", "progress", "queued", "rest"}) {
    const auto files = json->find(list);
    if (files == json->end()) continue;
    any = true;
    if (files->is_null()) continue;  // an empty section may come as null
    if (!files->is_array()) return std::nullopt;
    for (const Json& file : *files) {
      // Folders, links and deletions are needed too, but no file moves for
      // them: a folder awaited as a pull would never arrive as one.
      if (!file.is_object() || NameAt(file, "name").empty() || BoolAt(file, "deleted")) continue;
      const auto type = file.find("type");
      if (type != file.end() && !(type->is_string() && *type == "FILE_INFO_TYPE_FILE") &&
          !(type->is_number_integer() && *type == 0))
        continue;
      page.names.push_back(NameAt(file, "name"));
    }
  }
  if (!any) return std::nullopt;
  return page;
}

std::optional<SyncthingFileRecord> ParseSyncthingFileRecord(std::string_view text) {
  const auto json = Parsed(text);
  if (!json || !json->is_object()) return std::nullopt;
  const auto local = json->find("local");
  const auto global = json->find("global");
  if (local == json->end() || !local->is_object()) return std::nullopt;
  SyncthingFileRecord record;
  record.ignored = BoolAt(*local, "ignored");
  record.deleted = BoolAt(*local, "deleted");
  record.invalid = BoolAt(*local, "invalid");
  record.size = IntegerAt(*local, "size");
  if (global != json->end() && global->is_object()) {
    const auto mine = local->find("version");
    const auto newest = global->find("version");
    record.localIsGlobal = mine != local->end() && newest != global->end() && *mine == *newest;
  }
  return record;
}

}  // namespace vantorel
