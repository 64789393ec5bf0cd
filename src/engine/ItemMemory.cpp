#include "engine/ItemMemory.h"

#include <sys/stat.h>

namespace vantorel {

namespace {
constexpr double kCompletionEchoWindow = 60.0;
constexpr double kCompletionMemory = 600.0;
// A placeholder gone this long with its transfer unfinished was cancelled on
// the other side (or its item went somewhere the tracker does not look).
constexpr double kAbandonedDownloadAfter = 30.0;

}  // namespace

ItemMemory::Stamp ItemMemory::StampOf(const std::string& path, const Version& version) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, version};
}

void ItemMemory::NoteCompletion(const std::string& path, AbsoluteTime now, const Version& version) {
  completions_[path] = Completion{StampOf(path, version), now};
}

void ItemMemory::ForgetOldCompletions(AbsoluteTime now) {
  std::erase_if(completions_, [&](const auto& entry) { return now - entry.second.when > kCompletionMemory; });
}

bool ItemMemory::IsEchoOfCompletion(const std::string& path, AbsoluteTime now, const Version& version) const {
  const auto it = completions_.find(path);
  return it != completions_.end() && now - it->second.when <= kCompletionEchoWindow &&
         it->second.stamp == StampOf(path, version);
}

bool ItemMemory::CompletedWithThisContent(const std::string& path, const Version& version) const {
  const auto it = completions_.find(path);
  return it != completions_.end() && it->second.stamp == StampOf(path, version);
}

bool ItemMemory::IsAbandonedDownload(const std::string& placeholder, AbsoluteTime now) {
  const auto [it, first] = vanishedPlaceholders_.try_emplace(placeholder, now);
  if (first || now - it->second < kAbandonedDownloadAfter) return false;
  vanishedPlaceholders_.erase(it);
  return true;
}

}  // namespace vantorel
