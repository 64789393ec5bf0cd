#pragma once
// The simulated sync agent: keeps the "user.ubiquity.*" attributes of the
// items below a root the way a sync daemon would, so that Vantorel has
// something to watch on a machine without one. It never touches contents.
//
// A new or changed regular file (or package, uploaded as one item) reads as
// not uploaded, then as uploading with a rising percentage while its content
// is "sent" (a fixed delay, or its size over a bandwidth), then as uploaded.
// A file changed again mid-upload starts over. Hidden files, ".DS_Store" and
// placeholders are left alone; a file that arrives already uploaded (a
// download) is taken as it is. Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "units/runtime/MainLoop.h"

namespace vantorel {

class DirectoryWatcher;

class SyncAgent {
public:
  struct Options {
    double uploadDelay = 2.0;  // seconds, when no bandwidth is given
    double bandwidth = 0;      // bytes per second; 0: use uploadDelay
    double uploadLatency = 0;  // seconds added to a bandwidth-timed upload
    std::string journal;       // where finished uploads are recorded; empty: nowhere
  };

  SyncAgent(std::string root, Options options, MainLoop& loop);
  ~SyncAgent();
  SyncAgent(const SyncAgent&) = delete;
  SyncAgent& operator=(const SyncAgent&) = delete;

  // Marks the root as belonging to the store, uploads what is pending there
  // and starts watching. False, with `error` set, when it cannot.
  bool Start(std::string* error);

  int UploadsInProgress() const { return static_cast<int>(uploads_.size()); }
  std::uint64_t UploadsCompleted() const { return completed_; }

  // Marks `root` as belonging to the store; false with `error` when the file
  // system refuses user extended attributes.
  static bool MarkRoot(const std::string& root, std::string* error);

  // The items below `root` the agent would still upload: not marked
  // uploaded, or uploading. Placeholders, ".DS_Store", links and what a
  // package holds (the package is the item) are not counted.
  static std::vector<std::string> PendingItems(const std::string& root);

private:
  struct Identity {
    std::int64_t size = -1;
    std::int64_t modified = 0;
    bool operator==(const Identity&) const = default;
  };
  struct Upload {
    Identity identity;
    double duration = 0;
    double elapsed = 0;
    MainLoop::TimerId timer = 0;
  };

  void Changed(const std::string& path);
  // The item an event stands for: the outermost package around the path, or
  // the path; empty when the agent leaves it alone.
  std::string ItemFor(const std::string& path) const;
  // Whether an item of this name is never uploaded: ".DS_Store", a
  // placeholder (".NAME.icloud"), a download on its way (".NAME.arriving").
  static bool StaysLocal(const std::string& name);
  void BeginUpload(const std::string& item, const Identity& identity);
  void Tick(const std::string& item);
  void SweepPending(const std::string& folder);

  const std::string root_;
  const Options options_;
  MainLoop& loop_;
  std::unique_ptr<DirectoryWatcher> watcher_;
  std::map<std::string, Upload> uploads_;
  std::map<std::string, Identity> uploaded_;  // what each item was when it finished
  std::uint64_t completed_ = 0;
  bool journalFailed_ = false;  // said once, not at every upload
};

}  // namespace vantorel
