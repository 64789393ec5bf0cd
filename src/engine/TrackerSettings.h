#pragma once
// What the tracker is told to do, handed in whole by the application (which
// keeps it in the preferences) whenever any of it changes. The tracker never
// reads the preferences itself; each poll pass works from one copy.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

struct TrackerSettings {
  // A path is tracked when an include pattern matches it and no exclude
  // pattern does (regular expressions, searched anywhere in the path).
  std::vector<std::string> includePatterns;
  std::vector<std::string> excludePatterns;
  // How many transfers in progress a pass looks at: 0 → 100, 1 → 25,
  // 2 → 200; any other value keeps the number as it was.
  std::int64_t pollingMode = 1;
  bool trackIncomingDownloads = true;
  bool ignoreHiddenFiles = true;
  bool ignoreSymbolicLinks = true;
  // The plain-text log of finished transfers.
  bool enableLogging = true;
  // Received downloads go into the history and the log too.
  bool logReceivedDownloads = true;
  // Seconds without a new download after which the download batch closes.
  double downloadBatchDelay = 15;
  // Entries the history keeps (at least one).
  std::int64_t recentFilesLimit = 100;
  // The log is emptied once it reaches this many mebibytes (0: after every
  // pass that wrote to it).
  std::int64_t clearLogAfterSize = 25;
  // Where the history is kept; none: it is kept in memory only.
  std::optional<std::string> historyPath;

  bool operator==(const TrackerSettings&) const = default;
};

}  // namespace vantorel
