// The preferences store's typed face: values read and written by key,
// observers added and removed; the file behind it is UserDefaultsFile.cpp's.

#include "units/prefs/UserDefaults.h"

#include <mutex>
#include <optional>
#include <utility>

#include "units/fs/UserFolders.h"
#include "units/prefs/UserDefaultsImpl.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

TUserDefaults::TUserDefaults(std::string filePath, MainLoop* loop, Access access) : impl_(std::make_shared<Impl>()) {
  impl_->filePath = std::move(filePath);
  impl_->folder = ParentOf(impl_->filePath);
  impl_->fileName = impl_->filePath.substr(impl_->filePath.find_last_of('/') + 1);
  impl_->readOnly = access == Access::ReadOnly;
  impl_->loop = impl_->readOnly ? nullptr : loop;
  {
    std::lock_guard lock(impl_->mutex);
    std::optional<prefs::FolderLock> folderLock;  // a damaged file is set aside under it
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
