#pragma once
// The class behind MakeSyncClientSource (SyncClientSource.h), shared by its
// two files: SyncClientSource.cpp answers questions from the table of the
// client's states and keeps its rules; SyncClientConnection.cpp is the
// thread that speaks to the client and fills the table.
//
// Threads: one thread of the source's own runs Run(); questions come from
// any thread. `mutex_` guards the table and everything declared after it;
// the members marked as the client's thread's own are touched by that
// thread alone; `quitting_` is set once, by the destructor, and read by
// the client's thread between lines and folders.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "sources/SourcePushes.h"
#include "sources/StateLines.h"
#include "sources/nextcloud/SyncClientProtocol.h"
#include "sources/nextcloud/SyncClientSource.h"
#include "units/fs/PathUtilities.h"

namespace vantorel::syncclient {

using Stamp = std::pair<std::int64_t, std::int64_t>;  // size and modification time
constexpr Stamp kMissing{-1, 0};

inline double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class SyncClientSource final : public ItemStateSource {
public:
  explicit SyncClientSource(SyncClientOptions options);
  ~SyncClientSource() override;

  // --- questions (any thread) ------------------------------------------------

  bool IsInStore(const std::string& path) override;
  bool IsInClientFolder(const std::string& path) override { return IsInStore(path); }
  bool IsTracked(const std::string& path) override;
  bool IsUploading(const std::string& path) override { return IsTracked(path) && !IsUploaded(path); }

  bool IsUploaded(const std::string& path) override;
  bool IsDownloading(const std::string& path) override;
  bool IsInError(const std::string& path) override;
  TransferDirection DirectionOf(const std::string& path) override;
  bool IsDownloadFile(std::string_view path) override;
  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override;
  std::string PlaceholderPathOf(std::string_view item) override;
  Description Describe() override;
  std::optional<std::string> WaitingFor() override;
  void DescribeItem(const std::string& path) override;

  // --- pushes (main thread) -----------------------------------------------------

  void StartPushing(MainLoop& loop, Listener listener) override;
  void StopPushing() override { pushes_.Stop(); }

private:
  struct Entry {
    ClientItemState state = ClientItemState::None;
    Stamp okStamp = kMissing;  // the content the last accepted OK was for
    bool changePending = false;
    bool otherStateSinceChange = false;
    bool seenSyncing = false;
    double changeSeenAt = 0.0;
  };
  struct Download {
    std::string file;      // the temporary file or the placeholder
    double seenAt = 0.0;
    Stamp itemStamp;       // the item's content when first found received
  };

  bool IsPlaceholderName(std::string_view path) const {
    return !options_.placeholderSuffix.empty() && path.ends_with(options_.placeholderSuffix) &&
           lastPathComponentView(path).size() > options_.placeholderSuffix.size();
  }
  std::string ItemOfPlaceholder(std::string_view path) const {
    return std::string(path.substr(0, path.size() - options_.placeholderSuffix.size()));
  }

  const std::string* RootOfLocked(const std::string& path) const;
  void RememberDownload(const std::string& file, const std::string& item);
  // The item arrived through a download file this source saw, and has not
  // been changed here since.
  bool ReceivedLocked(const std::string& path);
  // Queues a question for the client; `wanted`: its answer is pushed even
  // when it is the first one.
  void AskLocked(const std::string& path, bool wanted);
  void Wake();

  // --- the client's thread ------------------------------------------------------

  // Lines here carry the client's paths, which may hold any byte.
  void Say(const std::string& line);
  // One line per change of the connection's state, not per attempt.
  void SayState(const std::string& line);
  int Connect(std::string* problem);
  void Run();
  // Sleeps up to `seconds`; false when the source is going away.
  // Sleeps up to `seconds`, ended early by Wake or by `alsoWakeOn` (a
  // descriptor it then closes); false once stopping.
  bool WaitForWake(double seconds, int alsoWakeOn = -1);
  void SetConnected(bool connected);
  // Tells the listener the roots as they are when the call runs: at most
  // one such call waits on the main loop, however fast a client flaps.
  void PushRootsLocked();
  // Serves one connection until it ends; true when the source is stopping.
  bool Serve(int fd);
  void SayLongLine();
  void Handle(std::string_view line, std::vector<std::string>& changed, std::string& out);
  void Register(const std::string& root, std::string& out);
  void Unregister(const std::string& root);
  // Walks a few folders of the registered roots, asking about their items;
  // false when nothing is left to walk.
  bool WalkSomeFolders();
  // Asks again about what is known under one root a view update named;
  // false when none waits.
  bool UpdateOneView();
  // Keeps the table bounded: forgets what is neither in progress nor asked
  // about once it is full.
  void SweepTableLocked();
  void Status(const std::string& path, ClientItemState state, std::vector<std::string>& changed);
  // A sync run started, ended or stopped under `root`: everything known
  // there is asked about again, once the questions before are sent (at
  // most one update waits per root, however many the client sends).
  void UpdateView(const std::string& root);
  bool Post(std::function<void(Listener&)> call) { return pushes_.Post(std::move(call)); }

  // A registered root's folders still to walk.
  struct Walk {
    std::string root;
    std::vector<std::string> folders;
    std::size_t next = 0;
  };

  const SyncClientOptions options_;
  int wake_ = -1;
  std::atomic<bool> quitting_{false};
  std::thread thread_;

  // The client's thread's own.
  std::deque<Walk> walks_;
  std::set<std::string> refusedRootsSaid_;
  StateLines rootLines_;  // a root taken or given up, said as a state is
  StateLines stateLines_;
  bool saidGarbage_ = false;
  bool saidLongLine_ = false;

  // Guards everything below.
  std::mutex mutex_;
  bool stopping_ = false;
  bool connected_ = false;
  bool wakePending_ = false;
  std::vector<std::string> roots_;
  std::unordered_map<std::string, Entry> table_;
  std::unordered_map<std::string, Download> downloads_;  // by item
  std::deque<std::string> questions_;
  std::unordered_set<std::string> queued_;
  std::unordered_set<std::string> wanted_;
  // Asked about by a registration's walk, not answered yet: what was there
  // when the client named its folder.
  std::unordered_set<std::string> walked_;
  std::vector<std::pair<double, std::string>> rechecks_;
  std::set<std::string> reportedErrors_;
  std::set<std::string> viewUpdates_;  // roots whose view update waits
  bool rootsPushWaiting_ = false;
  SourcePushes pushes_;
};

}  // namespace vantorel::syncclient
