#include "shell/Scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <unordered_set>
#include <utility>

#include "engine/TrackPathUtilities.h"
#include "shell/AppFace.h"
#include "sources/attributes/AttributeItemSource.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"
#include "units/prefs/PreferenceKeys.h"
#include "units/runtime/TThread.h"
#include "units/prefs/UserDefaults.h"
#include "units/text/LineText.h"
#include "units/fs/UserFolders.h"

namespace vantorel {

namespace {

// Paths named before the rest are counted.
constexpr std::size_t kPathsNamed = 10;

// "1,990": a count as the lines around it write numbers.
std::string Grouped(std::size_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

std::vector<std::string> FoundTransfersLines(const std::vector<std::string>& paths, bool verbose) {
  // A name may hold a line break: each path stays one line.
  std::vector<std::string> lines;
  const std::size_t named = verbose ? paths.size() : std::min(paths.size(), kPathsNamed);
  for (std::size_t i = 0; i < named; ++i) lines.push_back(EscapedForLine(paths[i]));
  if (named < paths.size())
    lines.push_back("\u2026 and " + Grouped(paths.size() - kPathsNamed) + " more; --verbose lists them all");
  return lines;
}

namespace {
constexpr double kPathUpdateInterval = 0.2;

// The path as the user reads it: the home folder as "~".
std::string Abbreviated(const std::string& path) {
  const std::string home = HomeDirectory();
  if (home.size() > 1 && path.compare(0, home.size(), home) == 0 && (path.size() == home.size() || path[home.size()] == '/'))
    return "~" + path.substr(home.size());
  return path;
}
}  // namespace

TScanner::TScanner(TScannerDelegate* delegate, TAppFace* face, std::string root, bool partial,
                   std::shared_ptr<ItemStateSource> source)
    : delegate_(delegate),
      face_(face),
      root_(std::move(root)),
      partial_(partial),
      source_(source ? std::move(source) : MakeAttributeItemSource()) {}

TRef<TScanner> TScanner::ScanDirectory(const std::string& path, TScannerDelegate* delegate, TAppFace* face,
                                       bool partial, std::shared_ptr<ItemStateSource> source) {
  auto scanner = MakeRef<TScanner>(delegate, face, path, partial, std::move(source));
  // The thread keeps the scanner alive until the walk has ended.
  scanner->thread_ = TThread::Create([self = scanner, path] { self->ScanInBackground(path); });
  face->ScannerOpened(*scanner);
  scanner->thread_->Start();
  return scanner;
}

void TScanner::Cancel() {
  WriteVerboseLine("cancel scanner");
  shouldCancel_ = true;
}

bool TScanner::WaitUntilFinished(double timeoutSeconds) const { return thread_->WaitUntilFinished(timeoutSeconds); }

void TScanner::ScanInBackground(const std::string& path) {
  TThread::RunOnMainThread([this] { delegate_->scannerWillStart(); });
  previousUpdateTime_ = CurrentAbsoluteTime();
  previousResultsTime_ = 0;  // the first item found is said at once
  reportedCount_ = 0;
  transfers_.clear();
  entered_.clear();
  found_.clear();
  WriteVerboseLine("start scanning");
  ScanFolder(path);
  // The user's Documents and Desktop, when the store keeps them; also after
  // a cancel. A scan of a part of the tree keeps to that part.
  if (!partial_)
    for (const std::string& folder : {DocumentsFolder(), DesktopFolder()})
      if (source_->IsInStore(folder)) ScanFolder(folder);
  UpdateResultsIfDue(true);
  WriteVerboseLine("done scanning");
  TThread::RunOnMainThread([this] { Stop(); });
}

// The count is posted at most five times a second, and once at the end: a
// message per item found (tens of thousands) kept the window's thread busy
// redrawing a line no one can read that fast.
void TScanner::UpdateResultsIfDue(bool last) {
  const AbsoluteTime now = CurrentAbsoluteTime();
  if (!last && now - previousResultsTime_ <= kPathUpdateInterval) return;
  if (last && reportedCount_ == transfers_.size()) return;
  reportedCount_ = transfers_.size();
  TThread::RunOnMainThread([this, text = "Found " + std::to_string(transfers_.size()) + " transfers."] {
    face_->ScannerResultsChanged(*this, text);
  });
  previousResultsTime_ = now;
}

void TScanner::UpdatePathFieldIfDue(const std::string& path) {
  const AbsoluteTime now = CurrentAbsoluteTime();
  if (now - previousUpdateTime_ <= kPathUpdateInterval) return;
  TThread::RunOnMainThread([this, shown = Abbreviated(path)] { face_->ScannerPathChanged(*this, shown); });
  previousUpdateTime_ = now;
}

namespace {
// Device and inode: the same folder or item, whatever path reached it.
std::optional<std::pair<dev_t, ino_t>> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}
}  // namespace

void TScanner::ScanFolder(const std::string& path) {
  // With links followed, a link back up the tree would otherwise be walked
  // again and again, counting each file many times: no folder is entered twice.
  const auto identity = IdentityOf(path);
  if (identity && !entered_.insert(*identity).second) return;
  WriteVerboseLine("scan " + path);
  UpdatePathFieldIfDue(path);
  std::vector<std::string> entries;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") entries.push_back(name);
    }
    ::closedir(dir);
  } else if (errno == ENAMETOOLONG && !warnedPathLimit_) {
    warnedPathLimit_ = true;
    WriteDiagnosticLine("Cannot scan folders whose path is longer than the system's limit; the first skipped, with "
                        "everything below it, is " + EscapedForLine(path));
  }
  const bool ignoreLinks = NSPrefs().BoolForKey(kPreferenceKeyIgnoreSymbolicLinks);
  // One look at each entry answers every question asked of it (a walk of
  // tens of thousands of files is otherwise mostly repeated stat calls); the
  // folder's ".hidden" list is read once.
  const std::unordered_set<std::string> hiddenHere = HiddenNamesIn(path);
  for (const std::string& name : entries) {
    if (name.front() == '.' || hiddenHere.contains(name)) continue;  // hidden items are never scanned
    const std::string item = stringByAppendingPathComponent(path, name);
    struct stat own {};
    if (::lstat(item.c_str(), &own) != 0) continue;  // gone meanwhile
    struct stat target = own;                          // what a link leads to
    if (S_ISLNK(own.st_mode) && (ignoreLinks || ::stat(item.c_str(), &target) != 0)) continue;  // or it leads nowhere
    UpdatePathFieldIfDue(item);
    const bool folder = S_ISDIR(target.st_mode);
    const bool package = folder && hasPackageExtension(item);
    // The item itself holds bytes (a link: its own, as the tracker counts it).
    if ((!folder || package) && own.st_size > 0 && !isImplicitlyPackaged(item) && !source_->IsUploaded(item)) {
      if (!found_.emplace(target.st_dev, target.st_ino).second) continue;  // reached before by another path
      transfers_.push_back(item);
      UpdateResultsIfDue(false);
    }
    if (shouldCancel_.load()) return;
    if (folder && !package) ScanFolder(item);  // depth first; packages are never entered
  }
}

void TScanner::Stop() {
  WriteVerboseLine("stop scanner");
  face_->ScannerClosed(*this);
  WriteVerboseLine("scanner will close");
  delegate_->scannerDidStop(*this, transfers_, shouldCancel_.load());
}

TRef<TScanner> PerformRescan(bool ask, TScannerDelegate* delegate, TAppFace* face,
                             const std::vector<std::string>* watched, std::shared_ptr<ItemStateSource> source) {
  const std::string folder = NSPrefs().GetString(kPreferenceKeyICloudDriveFolder).value_or("");
  WriteVerboseLine("icloud folder: " + folder);
  if (!ask) return TScanner::ScanDirectory(folder, delegate, face, false, std::move(source));
  FolderPanel panel;
  panel.title = "Scan For Transfers";
  panel.message = "Please choose the folder to scan for transfers in progress.";
  panel.prompt = "Scan";
  panel.startDirectory = fileURL(folder);
  const auto chosen = face->RunFolderPanel(panel);
  if (!chosen) return {};
  if (watched == nullptr) return TScanner::ScanDirectory(*chosen, delegate, face, false, std::move(source));
  const auto inside = WatchedPathOf(*chosen, *watched);
  if (!inside) {
    // Found there, items would count as transfers that no event will ever end.
    face->RunAlert({*chosen + " is not inside the watched folder.",
                    "Only folders that Vantorel watches can be scanned for transfers.", {"Ok"}});
    return {};
  }
  return TScanner::ScanDirectory(*inside, delegate, face, !watched->empty() && *inside != watched->front(),
                                 std::move(source));
}

std::optional<std::string> WatchedPathOf(const std::string& folder, const std::vector<std::string>& watched) {
  const auto canonical = [](const std::string& path) -> std::optional<std::string> {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string text(resolved);
    std::free(resolved);
    return text;
  };
  const auto real = canonical(folder);
  if (!real) return std::nullopt;
  for (const std::string& root : watched) {
    const auto realRoot = canonical(root);
    if (!realRoot) continue;
    if (*real == *realRoot) return root;
    const std::string& r = *realRoot;
    if (r == "/") return *real;
    if (real->size() > r.size() && real->compare(0, r.size(), r) == 0 && (*real)[r.size()] == '/')
      return (root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1) : root) + real->substr(r.size());
  }
  return std::nullopt;
}

}  // namespace vantorel
