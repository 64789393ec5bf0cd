#include "sources/rclone/RcloneMeta.h"

// The JSON library is used only in the files that read a client's answers.
#include <nlohmann/json.hpp>

#include "sources/JsonBounds.h"
#include "units/fs/PathSafety.h"

namespace vantorel {

std::optional<RcloneRecord> ParseRcloneRecord(std::string_view text) {
  // A record holds a list of ranges; a few thousand at most for a file
  // written in pieces.
  if (text.size() > kLongestRcloneRecord || LargerThanAnyRealAnswer(text, kDeepestJsonNesting, SIZE_MAX))
    return std::nullopt;
  const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  const auto dirty = json.find("Dirty");
  if (dirty == json.end() || !dirty->is_boolean()) return std::nullopt;
  RcloneRecord record;
  record.dirty = dirty->get<bool>();
  if (const auto size = json.find("Size"); size != json.end() && size->is_number_integer()) {
    const auto value = size->get<std::int64_t>();
    if (value >= 0) record.size = value;
  }
  // A time stamp is a few dozen characters; anything else is not one.
  if (const auto time = json.find("ModTime"); time != json.end() && time->is_string()) {
    const auto& text = time->get_ref<const std::string&>();
    if (text.size() <= 64) record.modTime = text;
  }
  return record;
}

std::string RcloneRecordFolder(const RcloneMount& mount, const std::string& cacheDir) {
  std::string folder = cacheDir + "/vfsMeta/" + mount.remoteName;
  if (!mount.remotePath.empty()) folder += "/" + mount.remotePath;
  return folder;
}

std::optional<std::string> RcloneRecordOf(const std::string& path, const std::string& mountPoint,
                                          const std::string& recordFolder) {
  if (!IsPlainAbsolutePath(path) || path == mountPoint || !IsWithinFolder(path, mountPoint)) return std::nullopt;
  const std::string relative = path.substr(mountPoint.size() + 1);
  if (!IsPlainRelativePath(relative)) return std::nullopt;
  return recordFolder + "/" + relative;
}

std::optional<std::string> RcloneFileOfRecord(const std::string& record, const std::string& mountPoint,
                                              const std::string& recordFolder) {
  if (!IsPlainAbsolutePath(record) || record == recordFolder || !IsWithinFolder(record, recordFolder))
    return std::nullopt;
  const std::string relative = record.substr(recordFolder.size() + 1);
  if (!IsPlainRelativePath(relative)) return std::nullopt;
  return mountPoint + "/" + relative;
}

}  // namespace vantorel
