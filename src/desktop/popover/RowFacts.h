#pragma once
// What a row of the popover's lists says about its file, read afresh from
// the file system each time it is asked: the name, and a second line (the
// size for a transfer, the date added for a recent transfer). Toolkit-free.

#include <cstdint>
#include <optional>
#include <string>

#include "units/prefs/PlistValue.h"

namespace vantorel {

struct RowFacts {
  bool exists = false;
  // The display name; the bare last path component when the file has gone.
  std::string name;
  // Empty when the file has gone or there is nothing to say.
  std::string secondary;
};

// The bytes an item takes for the user: a package's whole tree, any other
// item's own size (links not followed). Nothing when it has gone.
std::optional<std::uint64_t> ItemSize(const std::string& path);

// A transfer row: name and size.
RowFacts TransferRowFacts(const std::string& path);
// A transfer row for a download still arriving through `path` (its
// temporary file or placeholder): the item's own name and "Downloading...",
// no size (the placeholder's says nothing of the item's).
RowFacts DownloadRowFacts(const std::string& path, const std::string& item);

// A recent row: name and date added (birth time, else status-change time).
RowFacts RecentRowFacts(const std::string& path);

// The date-added line for a metadata value: a date, or a text in the form
// "yyyy-MM-dd HH:mm:ss Z" (numeric zone, as "+0100"), in the locale's short
// relative style ("Today, 10:42"); empty for anything else.
std::string DateAddedLine(const PlistValue& value);

}  // namespace vantorel
