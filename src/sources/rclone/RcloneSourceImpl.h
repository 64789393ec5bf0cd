#pragma once
// The rclone source's class, shared by its three files: RcloneSource.cpp
// (the answers, from each file's record read afresh), RcloneFollowing.cpp
// (its thread: the mount table, the records' folders, what to tell) and
// RcloneRemoteControl.cpp (what moves, from the remote control). Private
// to them; the rest of the program knows RcloneSource.h only.
//
// Threads: one of its own, which owns everything below "the thread's own".
// `mutex_` guards what questions from any thread read: the mounts followed
// and lost, what moves, the watched folder, whether anyone listens. Nothing
// waits for rclone while holding it.

#include <atomic>
#include <cstddef>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sources/LocalHttp.h"
#include "sources/SourcePushes.h"
#include "sources/StateLines.h"
#include "sources/rclone/RcloneMounts.h"
#include "sources/rclone/RcloneSource.h"

namespace vantorel::rclone {

// Record folders watched, at most (all mounts together).
inline constexpr std::size_t kMostRecordFolders = 20000;
// Files counted in a warning or as known to wait, at most.
inline constexpr std::size_t kMostCounted = 10000;
// Which way a file was last seen to go is kept this long (seconds): the
// tracker remembers its completions as long.
inline constexpr double kSeenMovingKept = 600.0;

double SteadyNow();

// A mount followed.
struct Followed {
  RcloneMount mount;
  std::string records;  // its record folder; empty when rclone's cache is not known
  int pid = 0;          // the process serving it, where found
  std::string control;  // its remote control's base URL; empty when it has none to ask
  bool lost = false;    // gone with files still to send, which wait for it
};

// A file the remote control lists as moving.
struct Moving {
  double percent = 0;
  bool download = false;  // its record is not dirty: it comes in
  double listedAt = 0;    // when the remote control last listed it
};

// What rclone's record of a file says: still to upload (Dirty, or being
// rewritten), uploaded, or no record at all.
enum class State { None, Pending, Uploaded };

class RcloneSource final : public ItemStateSource {
public:
  explicit RcloneSource(RcloneOptions options);
  ~RcloneSource() override;

  bool IsInStore(const std::string& path) override { return MountOf(path, true).has_value(); }
  bool IsInClientFolder(const std::string& path) override { return MountOf(path).has_value(); }
  bool WaitsForItsFolder(const std::string& path) override;
  bool IsUploading(const std::string& path) override { return Read(path) == State::Pending; }
  bool IsUploaded(const std::string& path) override { return Read(path) != State::Pending && !IsDownloading(path); }
  // Read through a full cache while the remote control lists it.
  bool IsDownloading(const std::string& path) override;
  std::optional<double> PercentDone(const std::string& path) override;
  TransferDirection DirectionOf(const std::string& path) override;
  std::optional<std::string> ContentVersion(const std::string& path) override;
  // Nothing in a mount stands for a download under another name.
  bool IsDownloadFile(std::string_view) override { return false; }
  std::optional<std::string> ItemOfDownloadFile(std::string_view) override { return std::nullopt; }
  std::string PlaceholderPathOf(std::string_view) override { return {}; }
  void DescribeItem(const std::string& path) override;
  Description Describe() override;
  std::optional<std::string> WaitingFor() override;
  void SetWatchedFolder(const std::string& folder) override;
  void StartPushing(MainLoop& loop, Listener listener) override;
  void StopPushing() override { pushes_.Stop(); }

private:
  // --- answers (RcloneSource.cpp) -------------------------------------------
  // The mount `path` is in; with `orLost`, a lost one too.
  std::optional<Followed> MountOf(const std::string& path, bool orLost = false);
  // The file's record, read afresh (one small file); `modTime` set to its
  // "ModTime" where it has one.
  State Read(const std::string& path, std::string* modTime = nullptr);
  // `whole` is cleared for a record caught in its rewrite.
  static State ReadRecord(const std::string& record, std::string* modTime = nullptr, bool* whole = nullptr);
  void Say(const std::string& line);

  // --- the thread (RcloneFollowing.cpp) ------------------------------------
  void Run();
  // Reads the mount table again; mounts that came, went or died are told.
  void Refresh(int table);
  // Watches every record folder anew; what is pending now is told.
  void WatchRecords(const std::vector<Followed>& mounts);
  void Watch(const std::string& folder);
  // Watches `root` and the folders under it, and notes the files whose
  // record says they wait.
  void WatchTree(const std::string& root, const Followed& followed, std::vector<std::string>& pending);
  // Every record under `root`: `onFolder` for each folder (the root too),
  // `onRecord` for each file, at most kMostRecordFolders folders.
  static void WalkRecords(const std::string& root, const std::function<void(const std::string&)>& onFolder,
                          const std::function<void(const std::string&)>& onRecord);
  // Files whose record says they wait, under a record folder (names
  // relative to it), at most `most`; `more` is set when there were more.
  static std::vector<std::string> PendingUnder(const std::string& records, std::size_t most, bool* more);
  void ReadRecordEvents();
  // What to say when files of `remote` are left in the cache, not
  // uploaded (they go when it is mounted again with the same cache);
  // nothing when none were left.
  std::optional<std::string> PendingNotice(const std::string& remote, const std::string& records);
  // One notice to the listener (a notification and a line of the log),
  // kept for it when nobody listens yet.
  void Notify(const std::string& text);
  // At launch: what an earlier mount left in rclone's usual cache, for
  // remotes not mounted now.
  void WarnOfCachesWithoutMount(const std::vector<Followed>& mounted);
  // Tells the listener of `paths`, whose records (or movement) changed;
  // with `stillToAsk`, a read that may be beginning waits for the remote
  // control's next answer.
  void Tell(std::vector<std::string> paths, bool stillToAsk = true);
  // `path` was seen going up (or down) now. Under mutex_.
  void NoteMoving(const std::string& path, bool download, double now);

  // --- the remote control (RcloneRemoteControl.cpp) -------------------------
  // Whether to ask it now: something waits, moves, or changed lately.
  bool WantsStats();
  // What each mount's remote control lists as moving; files that start or
  // stop moving are told.
  void AskStats(LocalHttp& http);

  const RcloneOptions options_;
  SourcePushes pushes_;
  std::atomic<bool> stopping_{false};
  int wake_ = -1;
  std::thread thread_;

  std::mutex mutex_;
  // Guarded by mutex_.
  std::vector<Followed> mounts_;
  std::vector<Followed> lost_;           // mounts gone with files still to send
  std::map<std::string, Moving> moving_;  // what the remote controls list, by path
  std::string watchedFolder_;             // the folder the user watches
  bool forceLook_ = false;                // the mounts are looked at again, whatever the table
  bool listening_ = false;
  std::vector<std::string> untold_;       // notices kept until someone listens
  // Which way each file was last seen to go (its record dirty, or listed
  // as read through the cache) and when: a clean record tells neither.
  struct SeenMoving {
    double at = 0;
    bool download = false;
  };
  std::map<std::string, SeenMoving> seenMoving_;
  // Each record as last read whole: one caught in its rewrite (rclone
  // rewrites in place, a read's access time too) says what it said.
  struct LastRead {
    State state = State::None;
    std::string modTime;
  };
  std::map<std::string, LastRead> lastRead_;

  // The thread's own.
  int inotify_ = -1;
  std::map<int, std::string> watched_;  // watch → record folder
  std::set<std::string> said_;
  StateLines lines_;
  std::set<std::string> deadMounts_;  // listed, but their process ended
  bool firstLook_ = true;
  std::set<std::string> pending_;     // files known to wait, for whether to ask
  std::set<std::string> deferred_;    // told after the remote control's next answer
  double lastAsked_ = 0;              // when the remote controls were last asked
  double askUntil_ = 0;               // they are asked until then at least
};

}  // namespace vantorel::rclone
