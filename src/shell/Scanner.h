#pragma once
// A one-off walk of a folder tree, on a thread of its own, for the items
// that exist here but are not uploaded yet; the tracker cannot learn of
// those from change events.

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "engine/ItemStateSource.h"
#include "units/runtime/AbsoluteTime.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TAppFace;
class TScanner;
class TThread;

class TScannerDelegate {
public:
  virtual ~TScannerDelegate() = default;
  // Before the first folder is read; the scanning thread waits for it.
  virtual void scannerWillStart() = 0;
  // After the window has closed, with the items found in the order found.
  virtual void scannerDidStop(const TScanner& scanner, const std::vector<std::string>& transfers,
                              bool userCanceled) = 0;
};

// What a finished scan prints after its count: every path with `verbose`,
// else the first ten and how many more (thousands of lines would bury the
// terminal).
std::vector<std::string> FoundTransfersLines(const std::vector<std::string>& paths, bool verbose);

class TScanner : public TObject {
public:
  // Starts scanning `path` (then, unless `partial`, Documents and Desktop
  // when they are in the store) and opens the scanner window; returns at
  // once. A partial scan covers only the part of the watched tree below
  // `path`. Main thread.
  // Item state comes from `source` (the attribute source when none).
  static TRef<TScanner> ScanDirectory(const std::string& path, TScannerDelegate* delegate, TAppFace* face,
                                      bool partial = false, std::shared_ptr<ItemStateSource> source = nullptr);

  const std::string& Root() const { return root_; }
  bool IsPartial() const { return partial_; }

  // The window's Cancel: the walk ends after the entry it is on.
  void Cancel();
  bool IsCancelled() const { return shouldCancel_.load(); }
  bool WaitUntilFinished(double timeoutSeconds) const;

  TScanner(TScannerDelegate* delegate, TAppFace* face, std::string root = {}, bool partial = false,
           std::shared_ptr<ItemStateSource> source = nullptr);

private:
  void ScanInBackground(const std::string& path);
  void ScanFolder(const std::string& path);
  void UpdatePathFieldIfDue(const std::string& path);
  void UpdateResultsIfDue(bool last);
  void Stop();

  TScannerDelegate* delegate_;
  TAppFace* face_;
  const std::string root_;
  const bool partial_;
  const std::shared_ptr<ItemStateSource> source_;
  TRef<TThread> thread_;
  std::atomic<bool> shouldCancel_{false};
  // The scanning thread's; the main thread reads `transfers_` only while
  // the scanning thread waits for it.
  AbsoluteTime previousUpdateTime_ = 0;
  AbsoluteTime previousResultsTime_ = 0;
  std::size_t reportedCount_ = 0;
  std::vector<std::string> transfers_;
  // Folders entered and items found in this walk, by device and inode.
  std::set<std::pair<dev_t, ino_t>> entered_;
  std::set<std::pair<dev_t, ino_t>> found_;
  bool warnedPathLimit_ = false;
};

// Scans the watched folder ("ICloudDriveFolder"); with `ask`, lets the user
// choose the folder first. Null when the panel was dismissed. With
// `watched`, a chosen folder must lie inside one of those folders (an alert
// says so otherwise, and nothing is scanned); one inside but not the
// watched folder itself is scanned as a part of it.
TRef<TScanner> PerformRescan(bool ask, TScannerDelegate* delegate, TAppFace* face,
                             const std::vector<std::string>* watched = nullptr,
                             std::shared_ptr<ItemStateSource> source = nullptr);

// `folder` spelled under the watched folder that holds it (also when it is
// reached through a link or with ".."), or nothing when none of `watched`
// holds it or it does not exist.
std::optional<std::string> WatchedPathOf(const std::string& folder, const std::vector<std::string>& watched);

}  // namespace vantorel
