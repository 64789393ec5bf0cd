#pragma once
// Where the tracker learns what the sync client knows of an item: whether it
// belongs to the synchronised store, is being sent or received, has been
// uploaded, how far it has come; which paths are the placeholders or
// temporary files of downloads. The tracker is given one source when it is
// made and asks it about every path it examines; it never reads sync state
// itself.
//
// Threads: the per-path questions come from the poll thread, a scan's thread
// and the main thread (for display) alike; a source answers them from what
// it already holds (at most a few system calls, never a round trip to the
// client) and guards its own state. Pushes are started and stopped on the
// main thread and delivered on the main loop.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class MainLoop;

// Which way an item's content goes, where the source can tell.
enum class TransferDirection { Unknown, Sending, Receiving };

class ItemStateSource {
public:
  virtual ~ItemStateSource() = default;

  // The item (or a folder above it) belongs to the synchronised store.
  virtual bool IsInStore(const std::string& path) = 0;
  // The item is inside a folder the client names as one it synchronises:
  // tracked whatever the include patterns say (the exclude patterns still
  // apply). A source with no folders of its own says no.
  virtual bool IsInClientFolder(const std::string&) { return false; }
  // The client takes part in syncing the item (a client may leave items
  // out); an item it does not is never a transfer.
  virtual bool IsTracked(const std::string&) { return true; }
  virtual bool IsUploading(const std::string& path) = 0;
  // The item's content is in the store: nothing left to send.
  virtual bool IsUploaded(const std::string& path) = 0;
  virtual bool IsDownloading(const std::string&) { return false; }
  // How far the item's transfer has come, 0 to 100, where the source knows.
  virtual std::optional<double> PercentDone(const std::string&) { return std::nullopt; }
  virtual bool IsInError(const std::string&) { return false; }
  // The item cannot be reached now but is not gone: the folder it is in
  // (an rclone mount) went away with it still to send, and it goes when
  // the folder is back. Its transfer stays, waiting.
  virtual bool WaitsForItsFolder(const std::string&) { return false; }
  // Why the client gave up on the item, in its words (empty when it gave
  // no reason); asked only of an item in error.
  virtual std::string ErrorText(const std::string&) { return {}; }
  // How far a transfer held under `path` has come: a download's percentage
  // may sit on its temporary file or placeholder, or on its item.
  std::optional<double> PercentOfTransfer(const std::string& path) {
    if (auto percent = PercentDone(path)) return percent;
    if (const auto item = ItemOfDownloadFile(path)) return PercentDone(*item);
    return std::nullopt;
  }
  // A source that cannot tell answers Unknown; the tracker then guesses from
  // what it saw (an item already uploaded at first sight was received).
  virtual TransferDirection DirectionOf(const std::string&) { return TransferDirection::Unknown; }
  // What the client keeps as the version of the item's content, where the
  // file's own modification time is not it (a network mount shows the
  // remote's time once the upload is done); compared for equality only.
  // Nothing: the file's size and modification time say.
  virtual std::optional<std::string> ContentVersion(const std::string&) { return std::nullopt; }

  // Whether `path` is the placeholder or temporary file of a download, by
  // its name alone (asked for every changed path).
  virtual bool IsDownloadFile(std::string_view path) = 0;
  // The item a download file stands for; nothing when `path` is none.
  virtual std::optional<std::string> ItemOfDownloadFile(std::string_view path) = 0;
  // The path under which the item's download is seen while it arrives.
  virtual std::string PlaceholderPathOf(std::string_view item) = 0;

  // False when nothing under `folder` can ever carry sync state (said once
  // when watching starts); true when that is unknown.
  virtual bool CanHoldState(const std::string&) { return true; }
  // What the source knows of the item, as one diagnostic line per fact.
  virtual void DescribeItem(const std::string&) {}

  // Which source this is, whether it reaches its client, and the folders
  // the client synchronises (for the status a script reads).
  struct Description {
    std::string name;
    bool connected = true;
    std::vector<std::string> roots;
    // The client's own name for each root, in the same order; empty, or
    // an empty name, where it has none.
    std::vector<std::string> labels;
  };
  virtual Description Describe() { return {"attributes", true, {}, {}}; }
  // Why nothing it syncs can move now, as a line to show under the status
  // ("Waiting: Syncthing is not running.", "~/Sync is paused in
  // Syncthing."); nothing while it can.
  virtual std::optional<std::string> WaitingFor() { return std::nullopt; }

  // The folder the user watches (main thread): a client of many folders
  // tells its pause and why it waits for the ones holding or inside it.
  virtual void SetWatchedFolder(const std::string&) {}

  // Whether the client can be told from here to pause and resume syncing,
  // and whether it is paused now (the watched folder's, else every folder
  // it syncs).
  virtual bool CanPauseSyncing() { return false; }
  // Whether its client can be paused from here while it runs (so that the
  // command shows, greyed, while it does not).
  virtual bool PausesSyncing() { return CanPauseSyncing(); }
  virtual bool SyncingPaused() { return false; }
  // Main thread: asks the client to pause (or resume); what it did arrives
  // as `pausedChanged`. False, with `problem` set, when it cannot be asked.
  virtual bool SetSyncingPaused(bool, std::string* problem) {
    *problem = "this sync client cannot be paused from here";
    return false;
  }

  // What a source tells of its own accord, on the main loop.
  struct Listener {
    // These paths changed state (examined like changed files, even when no
    // file on disk changed).
    std::function<void(const std::vector<std::string>& paths)> pathsChanged;
    // The folders the client synchronises now.
    std::function<void(const std::vector<std::string>& roots)> rootsChanged;
    // The client came or went: without it nothing can be told.
    std::function<void(bool connected)> connectionChanged;
    // The client paused or resumed syncing.
    std::function<void(bool paused)> pausedChanged;
    // Something the user must hear of at once (files left not uploaded),
    // as a sentence: a notification and a line of the log.
    std::function<void(const std::string& text)> notice;
  };
  // Main thread: from now until StopPushing, tell `listener` on `loop`.
  virtual void StartPushing(MainLoop&, Listener) {}
  virtual void StopPushing() {}
};

}  // namespace vantorel
