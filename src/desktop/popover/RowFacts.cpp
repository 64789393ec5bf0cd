#include "desktop/popover/RowFacts.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

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

RowFacts RecentRowFacts(const std::string& path) {
  RowFacts facts = Common(path);
  if (facts.exists)
    if (const auto added = metaData(path, kMetadataKeyDateAdded))
      facts.secondary = DateAddedLine(PlistValue(PlistValue::Date{*added}));
  return facts;
}

std::optional<AbsoluteTime> ParseDateAddedText(std::string_view text) {
  // Exactly "yyyy-MM-dd HH:mm:ss ±hhmm": 25 characters, nothing after.
  if (text.size() != 25) return std::nullopt;
  const std::string copy(text);
  int year, month, day, hour, minute, second, zone, consumed = 0;
  char sign;
  if (std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d %c%4d%n", &year, &month, &day, &hour, &minute, &second,
                  &sign, &zone, &consumed) != 8 ||
      consumed != 25 || (sign != '+' && sign != '-'))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || zone % 100 > 59 ||
      zone > 1400)
    return std::nullopt;
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  const std::time_t utc = ::timegm(&parts);
  if (parts.tm_mday != day) return std::nullopt;  // 31 April and the like roll over
  const int offset = (zone / 100 * 3600 + zone % 100 * 60) * (sign == '-' ? -1 : 1);
  return AbsoluteFromUnixTime(static_cast<double>(utc - offset));
}

std::string DateAddedLine(const PlistValue& value) {
  std::optional<AbsoluteTime> date;
  if (const auto* when = value.AsDate()) date = when->time;
  if (const auto* text = value.AsString()) date = ParseDateAddedText(*text);
  return date ? shortDateString(*date, true) : std::string();
}

}  // namespace vantorel
