// The tracker's history of finished transfers and its plain-text log: what
// goes into them (the parts keep the files).

#include <algorithm>

#include "engine/Tracker.h"
#include "units/fs/PathUtilities.h"
#include "units/text/DateUtilities.h"
#include "units/text/LineText.h"

namespace vantorel {

void TICloudTracker::LoadRecentTransfers() { history_.Load(Settings()->historyPath); }

bool TICloudTracker::SaveRecentTransfers() { return history_.Save(Settings()->historyPath); }

void TICloudTracker::CleanRecentTransfers() { history_.RemoveVanished(); }

bool TICloudTracker::ClearRecentTransfers() { return history_.Clear(Settings()->historyPath); }

std::optional<std::vector<std::string>> TICloudTracker::GetRecentTransfers() const { return history_.Entries(); }

void TICloudTracker::AddTransferFinishedEntry(const std::string& path) {
  history_.Add(path, Settings()->recentFilesLimit);
  LogFinished(path);
}

void TICloudTracker::ReportFailure(const std::string& path, const std::string& sentence) {
  if (transferLog_.Path() && Settings()->enableLogging)
    AddLogEntry("[" + shortDateString(options_.clock->Now(), false) + "] " + EscapedForLine(sentence));
  TellDelegate([path, sentence](TICloudTrackerDelegate& delegate, TICloudTracker* tracker) {
    delegate.trackerTransferFailed(tracker, path, sentence);
  });
  SendStatusChanged(false);
}

void TICloudTracker::LogFinished(const std::string& path) {
  const auto settings = Settings();
  if (!transferLog_.Path() || !settings->enableLogging) return;
  std::string folder = GetDirectory();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Items in the watched folder are logged relative to it ("/Docs/a.txt").
  const bool inside = !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                      path[folder.size()] == '/';
  // A name may hold a newline: escaped, it cannot start a forged entry.
  AddLogEntry("[" + shortDateString(options_.clock->Now(), false) + "] " +
              EscapedForLine(inside ? path.substr(folder.size()) : path));
}

void TICloudTracker::RecordFinishedOfThisPass() {
  if (finishedThisPass_.empty()) return;
  // What finished in one pass finished at one time: the log takes it in
  // the order of names, and the history (newest first) puts the first name
  // first. The order the pass met them in is a hash table's.
  std::sort(finishedThisPass_.begin(), finishedThisPass_.end());
  const auto settings = Settings();
  for (auto it = finishedThisPass_.rbegin(); it != finishedThisPass_.rend(); ++it)
    history_.Add(*it, settings->recentFilesLimit);
  for (const std::string& path : finishedThisPass_) LogFinished(path);
  finishedThisPass_.clear();
}

void TICloudTracker::AddLogEntry(const std::string& text) { transferLog_.Append(text); }

void TICloudTracker::CheckLogSize() { transferLog_.CheckSize(Settings()->clearLogAfterSize); }

void TICloudTracker::RemoveTransfers(const std::vector<std::string>& paths) {
  bool removed = false;
  {
    // Ignored: out of the batch altogether. Counted as completed, it would
    // show as done and move the progress on without anything uploaded.
    std::lock_guard lock(transfersLock_);
    for (const std::string& path : paths) {
      if (failures_.erase(path) > 0) removed = true;
      if (doesFileExist(path) && transfers_.Contains(path)) {
        transfers_.Remove(path);
        if (totalTransfers_.Contains(path)) totalTransfers_.Remove(path);
        removed = true;
      }
    }
  }
  // Every face reads the new counts at once, not at the next pass.
  if (removed) SendStatusChanged(false);
}

}  // namespace vantorel
