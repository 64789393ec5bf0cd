#include "sources/SelectingItemSource.h"

#include <atomic>
#include <mutex>

namespace vantorel {

namespace {

class SelectingItemSource final : public ItemStateSource {
public:
  SelectingItemSource(std::vector<std::shared_ptr<ItemStateSource>> clients, std::shared_ptr<ItemStateSource> fallback)
      : clients_(std::move(clients)), fallback_(std::move(fallback)) {}

  bool IsInStore(const std::string& path) override { return For(path).IsInStore(path); }
  bool IsInClientFolder(const std::string& path) override {
    for (const auto& client : clients_)
      if (client->IsInClientFolder(path)) return true;
    return false;
  }
  bool IsTracked(const std::string& path) override { return For(path).IsTracked(path); }
  bool IsUploading(const std::string& path) override { return For(path).IsUploading(path); }
  bool IsUploaded(const std::string& path) override { return For(path).IsUploaded(path); }
  bool IsDownloading(const std::string& path) override { return For(path).IsDownloading(path); }
  std::optional<double> PercentDone(const std::string& path) override { return For(path).PercentDone(path); }
  bool IsInError(const std::string& path) override { return For(path).IsInError(path); }
  std::string ErrorText(const std::string& path) override { return For(path).ErrorText(path); }
  bool WaitsForItsFolder(const std::string& path) override { return For(path).WaitsForItsFolder(path); }
  TransferDirection DirectionOf(const std::string& path) override { return For(path).DirectionOf(path); }
  std::optional<std::string> ContentVersion(const std::string& path) override {
    return For(path).ContentVersion(path);
  }
  bool IsDownloadFile(std::string_view path) override { return For(std::string(path)).IsDownloadFile(path); }
  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override {
    return For(std::string(path)).ItemOfDownloadFile(path);
  }
  std::string PlaceholderPathOf(std::string_view item) override {
    return For(std::string(item)).PlaceholderPathOf(item);
  }
  bool CanHoldState(const std::string& folder) override {
    // A client's folder needs no attributes.
    return &For(folder) != fallback_.get() || fallback_->CanHoldState(folder);
  }
  void DescribeItem(const std::string& path) override { For(path).DescribeItem(path); }

  // The client followed (once one registered folders), else the fallback. A
  // followed client that quits is still the one described: it is what the
  // user syncs with, now not running.
  Description Describe() override {
    const int followed = followed_.load();
    if (followed >= 0) return clients_[static_cast<std::size_t>(followed)]->Describe();
    // Not yet told (nothing pushes before the tracker starts): the first
    // client that has registered folders.
    for (const auto& client : clients_) {
      Description description = client->Describe();
      if (!description.roots.empty()) return description;
    }
    return fallback_->Describe();
  }

  void SetWatchedFolder(const std::string& folder) override {
    for (const auto& client : clients_) client->SetWatchedFolder(folder);
    fallback_->SetWatchedFolder(folder);
  }
  std::optional<std::string> WaitingFor() override { return Followed().WaitingFor(); }
  bool CanPauseSyncing() override { return Followed().CanPauseSyncing(); }
  bool PausesSyncing() override { return Followed().PausesSyncing(); }
  bool SyncingPaused() override { return Followed().SyncingPaused(); }
  bool SetSyncingPaused(bool paused, std::string* problem) override {
    return Followed().SetSyncingPaused(paused, problem);
  }

  void StartPushing(MainLoop& loop, Listener listener) override {
    // Each client's roots are its own; the listener hears them all at once.
    auto roots = std::make_shared<std::vector<std::vector<std::string>>>(clients_.size());
    for (std::size_t i = 0; i < clients_.size(); ++i) {
      Listener forward;
      forward.pathsChanged = listener.pathsChanged;
      forward.notice = listener.notice;
      forward.rootsChanged = [this, roots, i, all = listener.rootsChanged](const std::vector<std::string>& mine) {
        (*roots)[i] = mine;
        int none = -1;
        if (!mine.empty()) followed_.compare_exchange_strong(none, static_cast<int>(i));
        std::vector<std::string> every;
        for (const auto& some : *roots) every.insert(every.end(), some.begin(), some.end());
        if (all) all(every);
      };
      // A client that is not running is no reason to wait (the fallback
      // answers) until it is the one followed: then tracking waits for it.
      forward.connectionChanged = [this, i, tell = listener.connectionChanged](bool connected) {
        if (tell && followed_.load() == static_cast<int>(i)) tell(connected);
      };
      forward.pausedChanged = [this, i, tell = listener.pausedChanged](bool paused) {
        if (tell && followed_.load() == static_cast<int>(i)) tell(paused);
      };
      clients_[i]->StartPushing(loop, std::move(forward));
    }
    fallback_->StartPushing(loop, std::move(listener));
  }

  void StopPushing() override {
    for (const auto& client : clients_) client->StopPushing();
    fallback_->StopPushing();
  }

private:
  ItemStateSource& Followed() {
    const int followed = followed_.load();
    return followed >= 0 ? *clients_[static_cast<std::size_t>(followed)] : *fallback_;
  }

  ItemStateSource& For(const std::string& path) {
    for (const auto& client : clients_)
      if (client->IsInStore(path)) return *client;
    return *fallback_;
  }

  const std::vector<std::shared_ptr<ItemStateSource>> clients_;
  const std::shared_ptr<ItemStateSource> fallback_;
  // Which client is followed: the first to register folders (-1: none yet).
  // Set on the main thread, read from any.
  std::atomic<int> followed_{-1};
};

}  // namespace

std::shared_ptr<ItemStateSource> MakeSelectingItemSource(std::vector<std::shared_ptr<ItemStateSource>> clients,
                                                         std::shared_ptr<ItemStateSource> fallback) {
  return std::make_shared<SelectingItemSource>(std::move(clients), std::move(fallback));
}

}  // namespace vantorel
