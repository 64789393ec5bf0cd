#include "desktop/popover/RowFacts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "units/fs/DirectorySize.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/UserFolders.h"
#include "units/text/DateUtilities.h"
#include "units/text/HumanReadableBytes.h"

namespace vantorel {

std::optional<std::uint64_t> ItemSize(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
  if (isPackage(path)) return FSGetDirectorySize(fsRef(path));
  return static_cast<std::uint64_t>(info.st_size);
}

namespace {
// Name and existence, shared by both kinds of row.
RowFacts Common(const std::string& path) {
  RowFacts facts;
  facts.exists = doesFileExist(path);
  facts.name = facts.exists ? displayName(path) : lastPathComponent(path);
  return facts;
}
}  // namespace

std::string FolderOfRow(const std::string& path, const std::string& watchedFolder) {
  if (watchedFolder.empty()) return "";  // nothing to place it by
  const std::string folder = stringByDeletingLastPathComponent(path);
  std::string top = watchedFolder;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  if (folder == top) return "";
  const std::string below = top == "/" ? top : top + "/";
  if (folder.compare(0, below.size(), below) == 0) return folder.substr(below.size());
  return PathWithTilde(folder);
}

std::string SecondaryLine(const std::string& first, const RowContext& context, const std::string& path) {
  std::string line = first;
  const auto add = [&line](const std::string& part) {
    if (part.empty()) return;
    if (!line.empty()) line += " \u00b7 ";
    line += part;
  };
  if (context.percent) add(std::to_string(static_cast<int>(std::clamp(*context.percent, 0.0, 100.0))) + "%");
  if (context.waiting) add("waiting");
  if (const std::string folder = FolderOfRow(path, context.watchedFolder); !folder.empty()) add("in " + folder);
  return line;
}

std::string SpokenRow(const std::string& name, const std::string& secondary, const std::string& state) {
  std::string spoken = name;
  const auto add = [&spoken](std::string_view part) {
    if (part.empty()) return;
    if (!spoken.empty()) spoken += ", ";
    spoken += part;
  };
  static constexpr std::string_view kDot = " \u00b7 ";
  bool stateSaid = false;
  for (std::size_t from = 0; from <= secondary.size();) {
    std::size_t dot = secondary.find(kDot, from);
    if (dot == std::string::npos) dot = secondary.size();
    std::string_view part = std::string_view(secondary).substr(from, dot - from);
    if (part.size() > 3 && part.substr(part.size() - 3) == "...") part.remove_suffix(3);
    if (!state.empty() && part.size() == state.size() &&
        std::equal(part.begin(), part.end(), state.begin(), [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
      stateSaid = true;
    add(part);
    from = dot + kDot.size();
  }
  if (!stateSaid) add(state);
  return spoken;
}

RowFacts TransferRowFacts(const std::string& path, const RowContext& context) {
  RowFacts facts = Common(path);
  if (!facts.exists) return facts;
  const auto size = ItemSize(path);
  facts.secondary = SecondaryLine(size ? ConvertBytesToHumanReadable(static_cast<double>(*size)) : "", context, path);
  return facts;
}

RowFacts DownloadRowFacts(const std::string& path, const std::string& item, const RowContext& context) {
  RowFacts facts;
  facts.exists = doesFileExist(path);
  facts.name = lastPathComponent(item);
  facts.secondary = SecondaryLine("Downloading...", context, item);
  return facts;
}

RowFacts FailedRowFacts(const std::string& path, const std::string& reason) {
  RowFacts facts;
  facts.exists = doesFileExist(path);
  facts.name = lastPathComponent(path);
  facts.secondary = reason.empty() ? "Failed" : "Failed: " + reason;
  return facts;
}

RowFacts RecentRowFacts(const std::string& path, const RowContext& context) {
  RowFacts facts = Common(path);
  if (!facts.exists) return facts;
  std::string added;
  if (const auto date = metaData(path, kMetadataKeyDateAdded)) added = DateAddedLine(PlistValue(PlistValue::Date{*date}));
  // A finished transfer's percentage says nothing: only its folder.
  facts.secondary = SecondaryLine(added, RowContext{context.watchedFolder, std::nullopt}, path);
  return facts;
}

std::string DateAddedLine(const PlistValue& value) {
  std::optional<AbsoluteTime> date;
  if (const auto* when = value.AsDate()) date = when->time;
  if (const auto* text = value.AsString()) date = parseDateStamp(*text, true);
  return date ? shortDateString(*date, true) : std::string();
}

}  // namespace vantorel
