#pragma once
// What a row of the popover's lists says about its file, read afresh from
// the file system each time it is asked: the name, and a second line (the
// size for a transfer, the date added for a recent transfer, then the
// percentage and the folder). Toolkit-free.

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

// What a row's second line takes from outside its file: the watched folder
// its own folder is shown relative to (so that many rows of the same name
// can be told apart), and how far its transfer has come where the item-state
// source knows.
struct RowContext {
  std::string watchedFolder;
  std::optional<double> percent;
  // The client cannot move it now: "waiting" follows the last percentage.
  bool waiting = false;
};

// The folder a row's file is in: relative to the watched folder, empty at
// its top, the full folder ("~" for home) for a path outside it; empty
// when no watched folder is known.
std::string FolderOfRow(const std::string& path, const std::string& watchedFolder);

// The second line's parts in order, those with nothing to say left out:
// "1.5 kB · 42% · in Photos/2024".
std::string SecondaryLine(const std::string& first, const RowContext& context, const std::string& path);

// A transfer row: name, size, percentage and folder.
RowFacts TransferRowFacts(const std::string& path, const RowContext& context = {});
// A transfer row for a download still arriving through `path` (its
// temporary file or placeholder): the item's own name, "Downloading..."
// with its percentage and folder, no size (the placeholder's says nothing
// of the item's).
RowFacts DownloadRowFacts(const std::string& path, const std::string& item, const RowContext& context = {});

// A transfer the client gave up on: its name and "Failed: REASON" ("Failed"
// when the client gave no reason), until it is tried again or removed.
RowFacts FailedRowFacts(const std::string& path, const std::string& reason);

// A recent row: name, date added (birth time, else status-change time) and
// folder.
RowFacts RecentRowFacts(const std::string& path, const RowContext& context = {});

// What a screen reader says for a row: "name, second line's parts, state",
// the parts told apart by commas rather than dots; a state already said by
// the second line ("Downloading...") is not said twice; nothing empty.
std::string SpokenRow(const std::string& name, const std::string& secondary, const std::string& state);

// The date-added line for a metadata value: a date, or a text in the form
// "yyyy-MM-dd HH:mm:ss Z" (numeric zone, as "+0100"), in the locale's short
// relative style ("Today, 10:42"); empty for anything else.
std::string DateAddedLine(const PlistValue& value);

}  // namespace vantorel
