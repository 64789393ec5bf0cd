#pragma once
// What the poll thread remembers of single items for a while:
// - items that completed here, for ten minutes with their size and time
//   then, so that the late state event of an item that completed here (and
//   has not changed since) is not taken for a download received, nor a
//   short upload recorded twice;
// - placeholders of tracked downloads found gone, and since when, so that a
//   download whose item never came is given up after a while.
//
// Threads: the poll thread only (the tracker erases entries under its
// transfers lock, which changes nothing here).

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class ItemMemory {
public:
  void NoteCompletion(const std::string& path, AbsoluteTime now);
  void ForgetOldCompletions(AbsoluteTime now);
  // Completed here within the minute, and its content unchanged since.
  bool IsEchoOfCompletion(const std::string& path, AbsoluteTime now) const;
  // Completed here as it is now (within the ten minutes kept).
  bool CompletedWithThisContent(const std::string& path) const;

  // A tracked placeholder found gone: true once it has been gone long enough
  // to give its download up (the first sight starts the clock).
  bool IsAbandonedDownload(const std::string& placeholder, AbsoluteTime now);
  // The placeholder is there again, or its transfer ended.
  void ForgetPlaceholder(const std::string& placeholder) { vanishedPlaceholders_.erase(placeholder); }

private:
  struct Completion {
    std::pair<std::int64_t, std::int64_t> stamp;  // size and modification time then
    AbsoluteTime when;
  };
  std::unordered_map<std::string, Completion> completions_;
  std::unordered_map<std::string, AbsoluteTime> vanishedPlaceholders_;
};

}  // namespace vantorel
