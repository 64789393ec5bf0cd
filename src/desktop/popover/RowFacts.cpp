#include "desktop/popover/RowFacts.h"

#include <sys/stat.h>


#include "units/fs/DirectorySize.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
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

RowFacts TransferRowFacts(const std::string& path) {
  RowFacts facts = Common(path);
  if (facts.exists)
    if (const auto size = ItemSize(path)) facts.secondary = ConvertBytesToHumanReadable(static_cast<double>(*size));
  return facts;
}

RowFacts DownloadRowFacts(const std::string& path, const std::string& item) {
  RowFacts facts;
  facts.exists = doesFileExist(path);
  facts.name = lastPathComponent(item);
  facts.secondary = "Downloading...";
  return facts;
}

RowFacts RecentRowFacts(const std::string& path) {
  RowFacts facts = Common(path);
  if (facts.exists)
    if (const auto added = metaData(path, kMetadataKeyDateAdded))
      facts.secondary = DateAddedLine(PlistValue(PlistValue::Date{*added}));
  return facts;
}

std::string DateAddedLine(const PlistValue& value) {
  std::optional<AbsoluteTime> date;
  if (const auto* when = value.AsDate()) date = when->time;
  if (const auto* text = value.AsString()) date = parseDateStamp(*text, true);
  return date ? shortDateString(*date, true) : std::string();
}

}  // namespace vantorel
