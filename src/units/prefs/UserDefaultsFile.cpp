// The preferences store and its file: reading it (a damaged file moved
// aside by a writer), taking in what another process wrote, saving at once,
// watching the folder for changes, and telling observers on the main loop.

#include <sys/inotify.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "units/fs/AtomicFile.h"
#include "units/fs/UserFolders.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaultsImpl.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace prefs {

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  stamp.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace prefs

namespace {

using prefs::StampOf;

// Renames a damaged file to "<path>.corrupt" (or ".corrupt.N" when that name
// is taken, so an earlier damaged copy is never replaced).
std::string MoveAside(const std::string& path) {
  for (int n = 0; n < 1000; ++n) {
    const std::string aside = path + ".corrupt" + (n == 0 ? "" : "." + std::to_string(n));
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
    if (errno != EEXIST) break;
  }
  return {};
}

}  // namespace

void TUserDefaults::Impl::LoadLocked() {
  PlistReadResult read = ReadPropertyListFile(filePath);
  fileUnreadable = false;
  fileProblem.reset();
  switch (read.status) {
    case PlistReadResult::Status::Ok:
      if (auto* dict = read.value.AsDictionary()) {
        domain = std::move(*dict);
        break;
      }
      read.error = "it does not hold a dictionary";
      [[fallthrough]];
    case PlistReadResult::Status::Corrupt: {
      fileProblem = filePath + " is damaged (" + read.error + ")";
      if (readOnly) {  // a reader leaves it for a writer to deal with
        domain.clear();
        break;
      }
      const std::string aside = MoveAside(filePath);
      WriteDiagnosticLine("Preferences file " + filePath + " is damaged (" + read.error + "); " +
                          (aside.empty() ? "could not move it aside" : "kept it as " + aside) +
                          " and started with empty preferences.");
      domain.clear();
      break;
    }
    case PlistReadResult::Status::Unreadable:
      fileProblem = filePath + " cannot be read (" + read.error + ")";
      if (!readOnly)
        WriteDiagnosticLine("Cannot read preferences file " + filePath + " (" + read.error +
                            "); using empty preferences and leaving the file as it is.");
      fileUnreadable = true;
      domain.clear();
      break;
    case PlistReadResult::Status::Missing:
      domain.clear();
      break;
  }
  stamp = StampOf(filePath);
}

void TUserDefaults::Impl::RefreshLocked(std::vector<std::string>& changed) {
  const FileStamp now = StampOf(filePath);
  if (now == stamp) return;
  PlistReadResult read = ReadPropertyListFile(filePath);
  PlistValue::Dictionary fresh;
  switch (read.status) {
    case PlistReadResult::Status::Ok:
      if (auto* dict = read.value.AsDictionary()) {
        fresh = std::move(*dict);
        fileUnreadable = false;
        break;
      }
      read.error = "it does not hold a dictionary";
      [[fallthrough]];
    case PlistReadResult::Status::Corrupt: {
      // Someone damaged the file under us: keep it for inspection and write
      // what this process knows back, so no setting is lost.
      const std::string aside = MoveAside(filePath);
      WriteDiagnosticLine("Preferences file " + filePath + " is damaged (" + read.error + "); " +
                          (aside.empty() ? "could not move it aside" : "kept it as " + aside) +
                          " and wrote the current preferences back.");
      for (const auto& [key, value] : domain) unsaved.insert_or_assign(key, value);
      fileUnreadable = false;
      stamp = StampOf(filePath);
      return;
    }
    case PlistReadResult::Status::Unreadable:
      if (!fileUnreadable)
        WriteDiagnosticLine("Cannot read preferences file " + filePath + " (" + read.error +
                            "); keeping the preferences in memory and leaving the file as it is.");
      fileUnreadable = true;
      stamp = now;
      return;
    case PlistReadResult::Status::Missing:
      fileUnreadable = false;
      if (stamp.exists && !domain.empty()) {
        // Deleted under us (by hand, or by an editor about to write it
        // again): what this process knows is written back, not thrown away.
        WriteDiagnosticLine("Preferences file " + filePath + " disappeared; wrote the current preferences back.");
        for (const auto& [key, value] : domain) unsaved.try_emplace(key, value);
        stamp = now;
        return;
      }
      break;
  }
  for (const auto& [key, value] : unsaved) {
    if (value)
      fresh.insert_or_assign(key, *value);
    else
      fresh.erase(key);
  }
  for (const auto& [key, value] : fresh) {
    auto old = domain.find(key);
    if (old == domain.end() || !(old->second == value)) changed.push_back(key);
  }
  for (const auto& [key, value] : domain)
    if (fresh.find(key) == fresh.end()) changed.push_back(key);
  domain = std::move(fresh);
  stamp = now;
}

bool TUserDefaults::Impl::SaveFailed(const std::string& line) {
  if (line != toldSaveProblem) WriteDiagnosticLine(line);
  toldSaveProblem = line;
  return false;
}

bool TUserDefaults::Impl::SaveLocked() {
  if (unsaved.empty()) return true;
  if (fileUnreadable)
    return SaveFailed("Preferences not saved: " + filePath + " cannot be read, so it is left as it is.");
  std::string error;
  if (!MakeDirectories(folder))
    return SaveFailed("Could not save preferences: cannot create the folder " + folder + ": " +
                      std::strerror(errno));
  if (!WritePropertyListFile(filePath, PlistValue(domain), &error))
    return SaveFailed("Could not save preferences to " + filePath + ": " + error);
  toldSaveProblem.clear();
  unsaved.clear();
  stamp = StampOf(filePath);
  return true;
}

void TUserDefaults::Impl::Notify(const std::vector<std::string>& changed) {
  if (loop == nullptr || changed.empty()) return;
  std::vector<std::pair<ObserverId, std::string>> calls;
  {
    std::lock_guard lock(observersMutex);
    for (const std::string& key : changed)
      for (const auto& [id, entry] : observers)
        if (entry.first == key) calls.emplace_back(id, key);
  }
  std::weak_ptr<Impl> weak = weak_from_this();
  for (auto& [id, key] : calls) {
    loop->Post([weak, id = id, key = std::move(key)] {
      auto self = weak.lock();
      if (!self) return;
      Observer observer;
      {
        std::lock_guard lock(self->observersMutex);
        auto it = self->observers.find(id);
        if (it == self->observers.end()) return;  // removed before delivery
        observer = it->second.second;
      }
      observer(key);
    });
  }
}

void TUserDefaults::Impl::OnFolderEvents() {
  alignas(inotify_event) char buffer[8192];
  bool ours = false;
  for (;;) {
    const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t offset = 0; offset < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if ((event->mask & IN_Q_OVERFLOW) || (event->len > 0 && fileName == event->name)) ours = true;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (!ours) return;
  std::vector<std::string> changed;
  {
    std::lock_guard lock(mutex);
    FolderLock folderLock(folder);  // a save is a write like any other
    RefreshLocked(changed);
    SaveLocked();
  }
  Notify(changed);
}

void TUserDefaults::Impl::StartWatching() {
  if (loop == nullptr || !MakeDirectories(folder)) return;
  inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd < 0) return;
  const std::uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE | IN_ATTRIB;
  if (::inotify_add_watch(inotifyFd, folder.c_str(), mask) < 0) {
    WriteDiagnosticLine("Cannot watch " + folder + " for preference changes: " + std::strerror(errno));
    ::close(inotifyFd);
    inotifyFd = -1;
    return;
  }
  std::weak_ptr<Impl> weak = weak_from_this();
  watch = loop->WatchReadable(inotifyFd, [weak] {
    if (auto self = weak.lock()) self->OnFolderEvents();
  });
}

}  // namespace vantorel
