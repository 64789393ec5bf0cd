#pragma once
// The class behind MakeSyncthingSource (SyncthingSource.h), shared by its
// three files: SyncthingSource.cpp answers questions from the table
// (SyncthingFiles) and tells the listener what changed;
// SyncthingEvents.cpp is the thread that finds Syncthing and follows its
// event stream; SyncthingRequests.cpp the thread that asks what the events
// call for.
//
// Threads: `mutex_` guards the table and everything declared after it
// (`wake_` waits on it); `sayLock_` the lines said once; `since_` is the
// events thread's own. Neither thread holds `mutex_` while it waits for
// Syncthing.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sources/SourcePushes.h"
#include "sources/StateLines.h"
#include "sources/syncthing/SyncthingConfig.h"
#include "sources/syncthing/SyncthingFiles.h"
#include "sources/LocalHttp.h"
#include "sources/syncthing/SyncthingSource.h"

namespace vantorel::syncthing {

// How long one request may take, in seconds.
constexpr double kRequestSeconds = 10.0;

inline double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class SyncthingSource final : public ItemStateSource {
public:
  explicit SyncthingSource(SyncthingOptions options);
  ~SyncthingSource() override;

  // --- questions (any thread) ----------------------------------------------

  bool IsInStore(const std::string& path) override;
  bool IsInClientFolder(const std::string& path) override { return IsInStore(path); }
  bool IsTracked(const std::string& path) override;
  bool IsUploading(const std::string& path) override { return IsTracked(path) && !IsUploaded(path); }
  bool IsUploaded(const std::string& path) override;
  bool IsDownloading(const std::string& path) override;
  std::optional<double> PercentDone(const std::string& path) override;
  bool IsInError(const std::string& path) override;
  std::string ErrorText(const std::string& path) override;
  TransferDirection DirectionOf(const std::string& path) override;
  bool IsDownloadFile(std::string_view path) override;
  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override;
  std::string PlaceholderPathOf(std::string_view item) override;
  bool CanHoldState(const std::string&) override;
  void DescribeItem(const std::string& path) override;
  Description Describe() override;
  std::optional<std::string> WaitingFor() override;
  bool CanPauseSyncing() override;
  bool PausesSyncing() override { return true; }
  bool SyncingPaused() override;
  void SetWatchedFolder(const std::string& folder) override;
  bool SetSyncingPaused(bool paused, std::string* problem) override;

  // --- pushes (main thread) ----------------------------------------------------

  void StartPushing(MainLoop& loop, Listener listener) override;
  void StopPushing() override { pushes_.Stop(); }

private:
  // --- the events thread (SyncthingEvents.cpp) ----------------------------------

  bool Stopped();
  // Sleeps up to `seconds`; false when the source is going away.
  bool Sleep(double seconds);
  void FollowEvents();
  // Reads who Syncthing is, its folders and where its filtered stream
  // stands; false with `problem` set when it does not answer as it should.
  bool Introduce(LocalHttp& http, const LocalEndpoint& endpoint, std::string* problem);
  std::string Why(const LocalHttp::Reply& reply, const LocalEndpoint& endpoint);
  // Follows the event stream until Syncthing goes away or refuses; says why.
  std::string Follow(LocalHttp& http);

  // --- the requests thread (SyncthingRequests.cpp) --------------------------------

  void AnswerRequests();
  void ReadFolders(LocalHttp& http);
  void ReadConnections(LocalHttp& http);
  void ReadNeed(LocalHttp& http, const std::string& folder, const std::string& device);
  void ReadRecord(LocalHttp& http, const std::string& folder, const std::string& relative);
  void PauseFolders(LocalHttp& http, bool pause);

  // --- both threads ---------------------------------------------------------------

  // Acts on what an event or answer changed: requests queued for the
  // requests thread, the faces told of paths, roots, connection and pause.
  void Handle(SyncthingFiles::Effects effects);
  void Say(const std::string& line);
  // One line per change of state, not per attempt.
  void SayState(const std::string& line);
  bool reachable();
  void SayOnce(const std::string& line);
  void SetReachable(bool reachable);
  void Post(std::function<void(Listener&)> call) { pushes_.Post(std::move(call)); }

  const SyncthingOptions options_;
  std::atomic<bool> stopping_{false};  // aborts requests in flight
  std::thread events_;
  std::thread requests_;

  // The events thread's own.
  std::int64_t since_ = 0;

  // Guards the lines said once.
  std::mutex sayLock_;
  StateLines stateLines_;
  std::set<std::string> said_;

  // Guards everything below; `wake_` waits on it.
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool reachable_ = false;
  bool connected_ = false;
  bool paused_ = false;
  LocalEndpoint endpoint_;
  SyncthingFiles files_;
  std::vector<std::string> lastRoots_;
  std::set<std::pair<std::string, std::string>> needs_;
  bool refreshFolders_ = false;
  bool refreshConnections_ = false;
  std::optional<bool> pauseWanted_;
  SourcePushes pushes_;
};

}  // namespace vantorel::syncthing
