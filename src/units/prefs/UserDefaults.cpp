#include "units/prefs/UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <mutex>
#include <utility>

#include "units/fs/AtomicFile.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/prefs/PropertyListIO.h"
#include "units/fs/UserFolders.h"

namespace vantorel {

namespace {

// Identifies one version of the file: an atomic replacement changes the inode,
// an in-place edit changes size or times.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};

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

// An exclusive advisory lock on the folder, held while one process reads,
// changes and rewrites the file. Without the folder there is nothing to lock.
class FolderLock {
public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_;
};

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

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

struct TUserDefaults::Impl : std::enable_shared_from_this<Impl> {
  std::string filePath;
  std::string folder;
  std::string fileName;
  MainLoop* loop = nullptr;
  bool readOnly = false;

  // `mutex` guards the domain, the unsaved changes and what is known of the file.
  mutable std::mutex mutex;
  PlistValue::Dictionary domain;
  // Changes not yet in the file: a value, or nothing for a removal.
  std::map<std::string, std::optional<PlistValue>> unsaved;
  FileStamp stamp;
  bool fileUnreadable = false;
  std::optional<std::string> fileProblem;
  // The last save failure told; the same one is not told again at every
  // write, only once it has cleared and comes back.
  std::string toldSaveProblem;

  // `observersMutex` guards the observer table; never held while one runs.
  std::mutex observersMutex;
  std::map<ObserverId, std::pair<std::string, Observer>> observers;
  ObserverId nextObserver = 1;

  int inotifyFd = -1;
  MainLoop::WatchId watch = 0;

  void LoadLocked() {
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

  // Takes in the file when another process changed it since it was last read
  // or written; appends the keys whose values changed to `changed`.
  void RefreshLocked(std::vector<std::string>& changed) {
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

  bool SaveFailed(const std::string& line) {
    if (line != toldSaveProblem) WriteDiagnosticLine(line);
    toldSaveProblem = line;
    return false;
  }

  bool SaveLocked() {
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

  void Notify(const std::vector<std::string>& changed) {
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

  // Runs on the main loop when the folder changed.
  void OnFolderEvents() {
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

  void StartWatching() {
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

  // Every write: under the folder lock, take in what another process wrote,
  // make the change, save, then tell the observers. False when refused or
  // not saved.
  template <typename Change>
  bool Write(Change change) {
    if (readOnly) return false;
    std::vector<std::string> changed;
    bool saved;
    {
      std::lock_guard lock(mutex);
      FolderLock folderLock(folder);
      RefreshLocked(changed);
      change(changed);
      saved = SaveLocked() && !fileUnreadable;
    }
    Notify(changed);
    return saved;
  }

  bool ApplyAndSave(const std::string& key, std::optional<PlistValue> value) {
    return Write([&](std::vector<std::string>& changed) {
      auto it = domain.find(key);
      const bool differs = value ? (it == domain.end() || !(it->second == *value)) : it != domain.end();
      if (!differs) return;
      if (value)
        domain.insert_or_assign(key, *value);
      else
        domain.erase(it);
      unsaved.insert_or_assign(key, std::move(value));
      changed.push_back(key);
    });
  }
};

TUserDefaults::TUserDefaults(std::string filePath, MainLoop* loop, Access access) : impl_(std::make_shared<Impl>()) {
  impl_->filePath = std::move(filePath);
  impl_->folder = ParentOf(impl_->filePath);
  impl_->fileName = impl_->filePath.substr(impl_->filePath.find_last_of('/') + 1);
  impl_->readOnly = access == Access::ReadOnly;
  impl_->loop = impl_->readOnly ? nullptr : loop;
  {
    std::lock_guard lock(impl_->mutex);
    std::optional<FolderLock> folderLock;  // a damaged file is set aside under it
    if (!impl_->readOnly) folderLock.emplace(impl_->folder);
    impl_->LoadLocked();
  }
  impl_->StartWatching();
}

TUserDefaults::~TUserDefaults() {
  if (impl_->watch != 0) impl_->loop->Unwatch(impl_->watch);
  if (impl_->inotifyFd >= 0) ::close(impl_->inotifyFd);
}

std::string TUserDefaults::DefaultFilePath() {
  return ConfigHome() + "/vantorel/" + kDomainName + ".plist";
}

namespace {
std::mutex gStandardMutex;
std::unique_ptr<TUserDefaults> gStandard;
}  // namespace

TUserDefaults& TUserDefaults::Standard() {
  std::lock_guard lock(gStandardMutex);
  if (!gStandard) gStandard = std::make_unique<TUserDefaults>(DefaultFilePath(), MainLoop::Main());
  return *gStandard;
}

void TUserDefaults::SetStandard(std::unique_ptr<TUserDefaults> defaults) {
  std::lock_guard lock(gStandardMutex);
  gStandard = std::move(defaults);
}

const std::string& TUserDefaults::FilePath() const { return impl_->filePath; }

std::optional<std::string> TUserDefaults::FileProblem() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->fileProblem;
}

bool TUserDefaults::HasKey(const std::string& key) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->domain.count(key) != 0;
}

std::optional<PlistValue> TUserDefaults::ObjectForKey(const std::string& key) const {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->domain.find(key);
  if (it == impl_->domain.end()) return std::nullopt;
  return it->second;
}

PlistValue::Dictionary TUserDefaults::DictionaryRepresentation() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->domain;
}

namespace {

// Looks a key up under the lock and hands the value to `read`, which
// converts it without copying the whole value first.
template <typename Result, typename Read>
std::optional<Result> Lookup(std::mutex& mutex, const PlistValue::Dictionary& domain, const std::string& key,
                             Read read) {
  std::lock_guard lock(mutex);
  auto it = domain.find(key);
  if (it == domain.end()) return std::nullopt;
  return read(it->second);
}

}  // namespace

std::optional<bool> TUserDefaults::GetBool(const std::string& key) const {
  return Lookup<bool>(impl_->mutex, impl_->domain, key, [](const PlistValue& v) { return v.ToBoolean(); });
}

std::optional<std::int64_t> TUserDefaults::GetInteger(const std::string& key) const {
  return Lookup<std::int64_t>(impl_->mutex, impl_->domain, key, [](const PlistValue& v) { return v.ToInteger(); });
}

std::optional<double> TUserDefaults::GetReal(const std::string& key) const {
  return Lookup<double>(impl_->mutex, impl_->domain, key, [](const PlistValue& v) { return v.ToReal(); });
}

std::optional<std::string> TUserDefaults::GetString(const std::string& key) const {
  return Lookup<std::string>(impl_->mutex, impl_->domain, key, [](const PlistValue& v) { return v.ToString(); });
}

std::optional<AbsoluteTime> TUserDefaults::GetDate(const std::string& key) const {
  return Lookup<AbsoluteTime>(impl_->mutex, impl_->domain, key, [](const PlistValue& v) -> std::optional<AbsoluteTime> {
    if (const auto* d = v.AsDate()) return d->time;
    return std::nullopt;
  });
}

std::optional<PlistValue::Data> TUserDefaults::GetData(const std::string& key) const {
  return Lookup<PlistValue::Data>(impl_->mutex, impl_->domain, key,
                                  [](const PlistValue& v) -> std::optional<PlistValue::Data> {
                                    if (const auto* d = v.AsData()) return *d;
                                    return std::nullopt;
                                  });
}

std::optional<PlistValue::Array> TUserDefaults::GetArray(const std::string& key) const {
  return Lookup<PlistValue::Array>(impl_->mutex, impl_->domain, key,
                                   [](const PlistValue& v) -> std::optional<PlistValue::Array> {
                                     if (const auto* a = v.AsArray()) return *a;
                                     return std::nullopt;
                                   });
}

std::optional<std::vector<std::string>> TUserDefaults::GetStringArray(const std::string& key) const {
  return Lookup<std::vector<std::string>>(impl_->mutex, impl_->domain, key,
                                          [](const PlistValue& v) -> std::optional<std::vector<std::string>> {
                                            const auto* a = v.AsArray();
                                            if (a == nullptr) return std::nullopt;
                                            std::vector<std::string> strings;
                                            strings.reserve(a->size());
                                            for (const PlistValue& item : *a) {
                                              const auto* s = item.AsString();
                                              if (s == nullptr) return std::nullopt;
                                              strings.push_back(*s);
                                            }
                                            return strings;
                                          });
}

std::optional<PlistValue::Dictionary> TUserDefaults::GetDictionary(const std::string& key) const {
  return Lookup<PlistValue::Dictionary>(impl_->mutex, impl_->domain, key,
                                        [](const PlistValue& v) -> std::optional<PlistValue::Dictionary> {
                                          if (const auto* d = v.AsDictionary()) return *d;
                                          return std::nullopt;
                                        });
}

bool TUserDefaults::SetObject(const std::string& key, PlistValue value) {
  return impl_->ApplyAndSave(key, std::move(value));
}

bool TUserDefaults::SetStringArray(const std::string& key, const std::vector<std::string>& value) {
  PlistValue::Array array(value.begin(), value.end());
  return SetArray(key, std::move(array));
}

bool TUserDefaults::Remove(const std::string& key) { return impl_->ApplyAndSave(key, std::nullopt); }

bool TUserDefaults::RemoveAll() {
  Impl& d = *impl_;
  return d.Write([&d](std::vector<std::string>& changed) {
    for (const auto& [key, value] : d.domain) {
      changed.push_back(key);
      d.unsaved.insert_or_assign(key, std::nullopt);
    }
    d.domain.clear();
    // An empty domain is written even when nothing was held: the file then
    // says so, and running stores empty theirs.
    d.unsaved.try_emplace("", std::nullopt);
  });
}

bool TUserDefaults::Synchronize() {
  return impl_->Write([](std::vector<std::string>&) {});
}

TUserDefaults::ObserverId TUserDefaults::AddObserver(const std::string& key, Observer observer) {
  std::lock_guard lock(impl_->observersMutex);
  const ObserverId id = impl_->nextObserver++;
  impl_->observers.emplace(id, std::make_pair(key, std::move(observer)));
  return id;
}

void TUserDefaults::RemoveObserver(ObserverId id) {
  std::lock_guard lock(impl_->observersMutex);
  impl_->observers.erase(id);
}

}  // namespace vantorel
