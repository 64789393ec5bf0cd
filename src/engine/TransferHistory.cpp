#include "engine/TransferHistory.h"

#include <algorithm>

#include "units/fs/OwnFiles.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PropertyListIO.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

TransferHistory::~TransferHistory() {
  if (!registeredPath_.empty()) UnregisterOwnFile(registeredPath_);
}

void TransferHistory::Load(const std::optional<std::string>& path) {
  if (!path || !doesFileExist(*path)) {
    std::lock_guard lock(listLock_);
    entries_ = std::make_unique<std::vector<std::string>>();
    return;
  }
  const PlistReadResult read = ReadPropertyListFile(*path);
  std::string problem = read.error;
  std::vector<std::string> paths;
  if (read.status == PlistReadResult::Status::Ok) {
    if (const auto* array = read.value.AsArray()) {
      for (const PlistValue& item : *array) {
        if (const auto* text = item.AsString()) {
          paths.push_back(*text);
        } else {
          problem = "an entry is not a path";
          break;
        }
      }
    } else {
      problem = "it does not hold a list";
    }
  }
  if (!problem.empty()) {
    WriteDiagnosticLine("Cannot read the recent transfers list " + *path + " (" + problem +
                        "); no history is kept this run and the file is left as it is.");
    return;
  }
  {
    std::lock_guard lock(listLock_);
    entries_ = std::make_unique<std::vector<std::string>>(std::move(paths));
  }
  RemoveVanished();
}

std::optional<std::vector<std::string>> TransferHistory::Entries() const {
  std::lock_guard lock(listLock_);
  if (!entries_) return std::nullopt;
  return *entries_;
}

void TransferHistory::Add(const std::string& item, std::int64_t limit) {
  std::lock_guard lock(listLock_);
  if (!entries_) return;
  auto& recent = *entries_;
  // A limit below 1 would leave nothing to trim; one entry is the least.
  const auto most = static_cast<std::size_t>(std::max<std::int64_t>(1, limit));
  // Trimmed before the duplicate is taken out, as the list always was; down
  // to the limit, so that a lowered limit takes effect at once.
  while (recent.size() >= most) recent.pop_back();
  auto duplicate = std::find(recent.begin(), recent.end(), item);
  if (duplicate != recent.end()) recent.erase(duplicate);
  recent.insert(recent.begin(), item);
}

void TransferHistory::RemoveVanished() {
  std::lock_guard lock(listLock_);
  if (!entries_) return;
  std::erase_if(*entries_, [](const std::string& path) { return !doesFileExist(path); });
}

bool TransferHistory::Save(const std::optional<std::string>& path) {
  // One save at a time, each writing the list as it is when it starts.
  std::lock_guard save(saveLock_);
  std::vector<std::string> recent;
  {
    std::lock_guard lock(listLock_);
    if (!entries_) return true;
    recent = *entries_;
  }
  if (!path) return false;
  // Its change events arrive after the write: the path stays registered.
  if (registeredPath_ != *path) {
    if (!registeredPath_.empty()) UnregisterOwnFile(registeredPath_);
    RegisterOwnFile(*path);
    registeredPath_ = *path;
  }
  std::string problem;
  const bool saved =
      WritePropertyListFile(*path, PlistValue(PlistValue::Array(recent.begin(), recent.end())), &problem);
  // Said once while it keeps failing (a full disk fails every batch alike),
  // and again only after a save has gone through.
  if (!saved && !saveFailing_)
    WriteDiagnosticLine("Failed to write recent transfers log to " + *path + " (" + problem + ")");
  saveFailing_ = !saved;
  return saved;
}

bool TransferHistory::Clear(const std::optional<std::string>& path) {
  bool kept;
  {
    std::lock_guard lock(listLock_);
    kept = entries_ != nullptr;
    if (kept) entries_->clear();
  }
  if (kept) return Save(path);
  // No history this run (its file could not be read): an empty one replaces it.
  return path && WritePropertyListFile(*path, PlistValue(PlistValue::Array{}));
}

}  // namespace vantorel
