// The tracker's history of finished transfers and its plain-text log.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/Tracker.h"
#include "units/text/DateUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/AtomicFile.h"
#include "units/fs/OwnFiles.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PropertyListIO.h"
#include "units/text/ShortString.h"

namespace vantorel {

namespace {
constexpr std::size_t kLogEntryMaxBytes = 254;

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace

void TICloudTracker::LoadRecentTransfers() {
  const auto path = Settings()->historyPath;
  if (!path || !doesFileExist(*path)) {
    recentTransfers_ = std::make_unique<std::vector<std::string>>();
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
    // Better no history for this run than a rewritten file that loses it.
    WriteDiagnosticLine("Cannot read the recent transfers list " + *path + " (" + problem +
                        "); no history is kept this run and the file is left as it is.");
    return;
  }
  recentTransfers_ = std::make_unique<std::vector<std::string>>(std::move(paths));
  CleanRecentTransfers();
}

bool TICloudTracker::SaveRecentTransfers() {
  // One save at a time, each writing the list as it is when it starts: a
  // save that began before a clear can never put the old entries back.
  std::lock_guard save(historySaveLock_);
  std::vector<std::string> recent;
  {
    std::lock_guard lock(historyLock_);
    if (!recentTransfers_) return true;
    recent = *recentTransfers_;
  }
  const auto path = Settings()->historyPath;
  if (!path) return false;
  // Its change events arrive after the write: the path stays registered.
  if (historyFileRegistered_ != *path) {
    if (!historyFileRegistered_.empty()) UnregisterOwnFile(historyFileRegistered_);
    RegisterOwnFile(*path);
    historyFileRegistered_ = *path;
  }
  std::string problem;
  const bool saved =
      WritePropertyListFile(*path, PlistValue(PlistValue::Array(recent.begin(), recent.end())), &problem);
  // Said once while it keeps failing (a full disk fails every batch alike),
  // and again only after a save has gone through.
  if (!saved && !historySaveFailing_)
    WriteDiagnosticLine("Failed to write recent transfers log to " + *path + " (" + problem + ")");
  historySaveFailing_ = !saved;
  return saved;
}

void TICloudTracker::CleanRecentTransfers() {
  std::lock_guard lock(historyLock_);
  if (!recentTransfers_) return;
  std::erase_if(*recentTransfers_, [](const std::string& path) { return !doesFileExist(path); });
}

bool TICloudTracker::ClearRecentTransfers() {
  {
    std::lock_guard lock(historyLock_);
    if (recentTransfers_) recentTransfers_->clear();
  }
  if (recentTransfers_) return SaveRecentTransfers();
  // No history this run (its file could not be read): an empty one replaces it.
  const auto path = Settings()->historyPath;
  return path && WritePropertyListFile(*path, PlistValue(PlistValue::Array{}));
}

void TICloudTracker::AddTransferFinishedEntry(const std::string& path) {
  const auto settings = Settings();
  {
    std::lock_guard lock(historyLock_);
    if (recentTransfers_) {
      auto& recent = *recentTransfers_;
      // A limit below 1 would leave nothing to trim; one entry is the least.
      const auto limit = static_cast<std::size_t>(std::max<std::int64_t>(1, settings->recentFilesLimit));
      // Trimmed before the duplicate is taken out, as the list always was;
      // down to the limit, so that a lowered limit takes effect at once.
      while (recent.size() >= limit) recent.pop_back();
      auto duplicate = std::find(recent.begin(), recent.end(), path);
      if (duplicate != recent.end()) recent.erase(duplicate);
      recent.insert(recent.begin(), path);
    }
  }
  std::string folder;
  {
    std::lock_guard lock(configLock_);
    if (!transferLogPath_) return;
    folder = directory_;
  }
  if (!settings->enableLogging) return;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // Items in the watched folder are logged relative to it ("/Docs/a.txt").
  const bool inside = !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                      path[folder.size()] == '/';
  AddLogEntry("[" + shortDateString(options_.clock->Now(), false) + "] " + (inside ? path.substr(folder.size()) : path));
}

void TICloudTracker::AddLogEntry(const std::string& text) {
  transferLogWritten_ = true;
  if (transferLogFile_ < 0) {
    std::optional<std::string> path;
    {
      std::lock_guard lock(configLock_);
      path = transferLogPath_;
    }
    if (!path) return;
    // Registered before it is created or written: its own events must never
    // come back as a transfer (which would log another line).
    RegisterOwnFile(*path);
    // Only a regular file of the user's own: a link in its place (to
    // ~/.bashrc, say) would have every entry appended to its target.
    std::string problem;
    const int fd = OpenFileForAppend(*path, &problem);
    if (fd < 0) {
      UnregisterOwnFile(*path);
      LogWriteFailed(*path, problem);
      return;  // dropped; the next entry tries again
    }
    transferLogFile_ = fd;
    transferLogFilePath_ = *path;
  }
  const off_t end = ::lseek(transferLogFile_, 0, SEEK_END);
  if (!WriteAll(transferLogFile_, TruncateUtf8(text, kLogEntryMaxBytes) + "\n")) {
    const int error = errno;
    // A line cut off by a full disk would run into the next one written.
    if (end >= 0 && ::ftruncate(transferLogFile_, end) != 0) {
      // Left as it is: the next line starts after the cut one.
    }
    LogWriteFailed(transferLogFilePath_, std::strerror(error));
    return;
  }
  if (logWriteFailing_) WriteDiagnosticLine("Writing the transfer log " + transferLogFilePath_ + " again.");
  logWriteFailing_ = false;
}

void TICloudTracker::LogWriteFailed(const std::string& path, const std::string& why) {
  // Once while it keeps failing, not at every finished file.
  if (!logWriteFailing_)
    WriteDiagnosticLine("Failed to write to the transfer log " + path + ": " + why +
                        "; entries are dropped until it can be written.");
  logWriteFailing_ = true;
}

void TICloudTracker::CheckLogSize() {
  std::optional<std::string> path;
  {
    std::lock_guard lock(configLock_);
    path = transferLogPath_;
  }
  transferLogWritten_ = false;
  if (!path) return;
  struct stat st {};
  // Measured as it is (a link is nothing of ours to measure or empty).
  if (::lstat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (Settings()->clearLogAfterSize > (st.st_size >> 20)) return;
  WriteDiagnosticLine("clearing log file...");
  // Emptied in place, so the open log keeps writing to the same file.
  std::string problem;
  if (!EmptyRegularFile(*path, &problem)) WriteDiagnosticLine("Cannot clear the transfer log: " + problem + ".");
}

void TICloudTracker::RemoveTransfers(const std::vector<std::string>& paths) {
  std::lock_guard lock(transfersLock_);
  for (const std::string& path : paths) {
    if (doesFileExist(path) && transfers_.Contains(path)) {
      transfers_.Remove(path);
      completedTransfers_.Add(path);
    }
  }
}

}  // namespace vantorel
