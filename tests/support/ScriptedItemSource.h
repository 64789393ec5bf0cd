#pragma once
// An item-state source whose answers a test sets: item state in memory,
// download files named as the attribute source names them (".NAME.icloud"),
// and pushes sent when the test says so. Any thread may ask; the test sets.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ItemStateSource.h"
#include "units/runtime/MainLoop.h"

namespace vantorel::test {

class ScriptedItemSource : public ItemStateSource {
public:
  struct State {
    bool inStore = true;
    bool uploading = false;
    bool uploaded = false;
    bool downloading = false;
    std::optional<double> percent = std::nullopt;
    bool error = false;
    TransferDirection direction = TransferDirection::Unknown;
    std::string reason = {};  // the client's words for an error
  };

  void Set(const std::string& path, State state) {
    std::lock_guard lock(mutex_);
    states_[path] = state;
  }
  void SetUploaded(const std::string& path, bool uploaded = true) {
    std::lock_guard lock(mutex_);
    states_[path].uploaded = uploaded;
  }
  void SetWaitingFor(std::optional<std::string> why) {
    std::lock_guard lock(mutex_);
    waitingFor_ = std::move(why);
  }
  std::optional<std::string> WaitingFor() override {
    std::lock_guard lock(mutex_);
    return waitingFor_;
  }
  // A folder the client names as its own: tracked whatever the patterns say.
  void SetClientFolder(std::string folder) {
    std::lock_guard lock(mutex_);
    clientFolder_ = std::move(folder);
  }
  bool IsInClientFolder(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return !clientFolder_.empty() && path.starts_with(clientFolder_ + "/");
  }
  void SetDirection(const std::string& path, TransferDirection direction) {
    std::lock_guard lock(mutex_);
    states_[path].direction = direction;
  }
  // Questions asked so far, for tests that check what was asked.
  int Questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
  }

  // Sends the pushes, on the main loop as a real source would.
  void PushChanged(std::vector<std::string> paths) {
    if (loop_ == nullptr || !listener_.pathsChanged) return;
    loop_->Post([this, paths = std::move(paths)] {
      if (listener_.pathsChanged) listener_.pathsChanged(paths);
    });
  }
  void PushRoots(std::vector<std::string> roots) {
    if (loop_ == nullptr || !listener_.rootsChanged) return;
    loop_->Post([this, roots = std::move(roots)] {
      if (listener_.rootsChanged) listener_.rootsChanged(roots);
    });
  }
  bool IsPushing() const { return loop_ != nullptr; }

  bool IsInStore(const std::string& path) override { return Read(path).inStore && Known(path); }
  bool IsUploading(const std::string& path) override { return Read(path).uploading; }
  bool IsUploaded(const std::string& path) override { return Read(path).uploaded; }
  bool IsDownloading(const std::string& path) override { return Read(path).downloading; }
  std::optional<double> PercentDone(const std::string& path) override { return Read(path).percent; }
  bool IsInError(const std::string& path) override { return Read(path).error; }
  std::string ErrorText(const std::string& path) override { return Read(path).reason; }
  TransferDirection DirectionOf(const std::string& path) override { return Read(path).direction; }

  bool IsDownloadFile(std::string_view path) override { return path.ends_with(".icloud"); }
  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = path.substr(slash + 1);
    if (!IsDownloadFile(path) || name.size() <= 8 || name[0] != '.') return std::nullopt;
    return std::string(path.substr(0, slash + 1)) + std::string(name.substr(1, name.size() - 8));
  }
  std::string PlaceholderPathOf(std::string_view item) override {
    const std::size_t slash = item.find_last_of('/');
    return std::string(item.substr(0, slash + 1)) + "." + std::string(item.substr(slash + 1)) + ".icloud";
  }

  void StartPushing(MainLoop& loop, Listener listener) override {
    loop_ = &loop;
    listener_ = std::move(listener);
  }
  void StopPushing() override {
    loop_ = nullptr;
    listener_ = {};
  }

private:
  State Read(const std::string& path) {
    std::lock_guard lock(mutex_);
    ++questions_;
    auto it = states_.find(path);
    if (it != states_.end()) return it->second;
    State unknown;
    unknown.inStore = false;
    return unknown;
  }
  bool Known(const std::string& path) {
    std::lock_guard lock(mutex_);
    return states_.count(path) != 0;
  }

  mutable std::mutex mutex_;  // guards states_, questions_ and waitingFor_
  std::optional<std::string> waitingFor_;
  std::string clientFolder_;
  std::map<std::string, State> states_;
  int questions_ = 0;
  // Main thread only.
  MainLoop* loop_ = nullptr;
  Listener listener_;
};

}  // namespace vantorel::test
