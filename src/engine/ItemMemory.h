#pragma once
// What the poll thread remembers of single items for a while:
// - items that completed here, for ten minutes with their size and time
//   then (or the version the source keeps of their content), so that the late state event of an item that completed here (and
//   has not changed since) is not taken for a download received, nor a
//   short upload recorded twice;
// - placeholders of tracked downloads found gone, and since when, so that a
//   download whose item never came is given up after a while.
//
// Threads: the poll thread only (the tracker erases entries under its
// transfers lock, which changes nothing here).

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

class ItemMemory {
public:
  // `version`: the source's ContentVersion of the item, where it keeps one
  // (then it stands for the modification time).
  using Version = std::optional<std::string>;
  void NoteCompletion(const std::string& path, AbsoluteTime now, const Version& version = std::nullopt);
  void ForgetOldCompletions(AbsoluteTime now);
  // Completed here within the minute, and its content unchanged since.
  bool IsEchoOfCompletion(const std::string& path, AbsoluteTime now, const Version& version = std::nullopt) const;
  // Completed here as it is now (within the ten minutes kept).
  bool CompletedWithThisContent(const std::string& path, const Version& version = std::nullopt) const;

  // A tracked placeholder found gone: true once it has been gone long enough
  // to give its download up (the first sight starts the clock).
  bool IsAbandonedDownload(const std::string& placeholder, AbsoluteTime now);
  // The placeholder is there again, or its transfer ended.
  void ForgetPlaceholder(const std::string& placeholder) { vanishedPlaceholders_.erase(placeholder); }

private:
  // What a change of the content would show: its size, and the source's
  // version of it where both readings have one, else its time.
  struct Stamp {
    std::int64_t size = -1;
    std::int64_t time = 0;
    Version version;
    bool operator==(const Stamp& other) const {
      return size == other.size && (version && other.version ? *version == *other.version : time == other.time);
    }
  };
  static Stamp StampOf(const std::string& path, const Version& version);
  struct Completion {
    Stamp stamp;  // then
    AbsoluteTime when;
  };
  std::unordered_map<std::string, Completion> completions_;
  std::unordered_map<std::string, AbsoluteTime> vanishedPlaceholders_;
};

}  // namespace vantorel
