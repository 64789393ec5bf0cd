#include "cloudsim/SyncAgent.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cloudsim/Journal.h"
#include "units/fs/DirectoryWatcher.h"
#include "cloudsim/AgentRules.h"
#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/SyncAttributes.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {
constexpr double kTick = 0.25;
constexpr const char* kPercentUploaded = kUbiquityPercentUploadedAttribute;

void Set(const std::string& path, const char* name, const std::string& value) {
  ::setxattr(path.c_str(), name, value.data(), value.size(), 0);
}
void Clear(const std::string& path, const char* name) { ::removexattr(path.c_str(), name); }

// The paths of a folder's entries (none when it cannot be read).
std::vector<std::string> ChildrenOf(const std::string& folder) {
  std::vector<std::string> children;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return children;
  while (const dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) children.push_back(folder + "/" + e->d_name);
  ::closedir(d);
  return children;
}

// What an item's content is, as far as an edit would change it. Attribute
// changes leave it alone, so the agent's own marks are told from edits.
bool IdentityOf(const std::string& path, std::int64_t* size, std::int64_t* modified, bool* folder) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  *folder = S_ISDIR(st.st_mode);
  if (!*folder && !S_ISREG(st.st_mode)) return false;
  *size = st.st_size;
  *modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  if (*folder) {
    // A package: the sum of its files' sizes and their latest change.
    std::vector<std::string> stack{path};
    *size = 0;
    while (!stack.empty()) {
      const std::string dir = stack.back();
      stack.pop_back();
      for (const std::string& child : ChildrenOf(dir)) {
        struct stat cs {};
        if (::lstat(child.c_str(), &cs) != 0) continue;
        if (S_ISDIR(cs.st_mode)) {
          stack.push_back(child);
        } else {
          *size += cs.st_size;
          *modified = std::max<std::int64_t>(*modified, cs.st_mtim.tv_sec * 1000000000LL + cs.st_mtim.tv_nsec);
        }
      }
    }
  }
  return true;
}
}  // namespace

SyncAgent::SyncAgent(std::string root, Options options, MainLoop& loop)
    : root_(std::move(root)), options_(options), loop_(loop) {}

SyncAgent::~SyncAgent() {
  watcher_.reset();
  for (auto& [item, upload] : uploads_) loop_.CancelTimer(upload.timer);
}

bool SyncAgent::MarkRoot(const std::string& root, std::string* error) {
  if (!isDirectory(root)) {
    if (error) *error = root + " is not a folder";
    return false;
  }
  if (::setxattr(root.c_str(), kUbiquityItemAttribute, "1", 1, 0) != 0) {
    if (error)
      *error = "cannot mark " + root + ": " + std::strerror(errno) +
               (errno == ENOTSUP ? " (the file system has no user extended attributes)" : "");
    return false;
  }
  return true;
}

bool SyncAgent::Start(std::string* error) {
  if (!MarkRoot(root_, error)) return false;
  watcher_ = DirectoryWatcher::Create({root_}, &loop_,
                                      [this](const std::vector<std::string>& paths) {
                                        for (const auto& p : paths) Changed(p);
                                      },
                                      0.1, error);
  if (!watcher_) return false;
  SweepPending(root_);
  return true;
}

void SyncAgent::SweepPending(const std::string& folder) {
  for (const std::string& child : ChildrenOf(folder)) {
    if (isDirectory(child) && !agent::IsPackageFolder(child) && !agent::IsLink(child))
      SweepPending(child);
    else
      Changed(child);
  }
}

bool SyncAgent::StaysLocal(const std::string& name) {
  // Hidden files and folders are synchronised like any other (a clone's
  // ".git", a project's ".ci"): only what the agent itself keeps local is not.
  const auto endsWith = [&name](std::string_view end) {
    return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
  };
  if (name.empty() || name == ".DS_Store") return true;
  return name[0] == '.' && (endsWith(".icloud") || endsWith(".arriving"));  // placeholders, downloads on their way
}

std::string SyncAgent::ItemFor(const std::string& path) const {
  if (path.size() <= root_.size() || path.compare(0, root_.size(), root_) != 0 || path[root_.size()] != '/') return {};
  // The outermost package between the root and the path is the item.
  std::size_t start = root_.size() + 1;
  while (start < path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::string prefix = path.substr(0, slash);
    const std::string name = lastPathComponent(prefix);
    if (StaysLocal(name)) return {};
    if (slash != std::string::npos && agent::IsPackageFolder(prefix)) return prefix;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return path;
}

void SyncAgent::Changed(const std::string& path) {
  const std::string item = ItemFor(path);
  if (item.empty() || agent::IsLink(item)) return;
  Identity identity;
  bool folder = false;
  if (!IdentityOf(item, &identity.size, &identity.modified, &folder)) {
    // Gone (or not a file): an upload in progress stops.
    auto running = uploads_.find(item);
    if (running != uploads_.end()) {
      loop_.CancelTimer(running->second.timer);
      uploads_.erase(running);
      WriteDiagnosticLine("upload stopped, item gone: " + item);
    }
    uploaded_.erase(item);
    return;
  }
  if (folder && !agent::IsPackageFolder(item)) return;
  auto running = uploads_.find(item);
  if (running != uploads_.end() && running->second.identity == identity) return;  // our own marks
  auto done = uploaded_.find(item);
  if (running == uploads_.end() && done != uploaded_.end() && done->second == identity) return;
  if (running == uploads_.end() && done == uploaded_.end() && agent::IsMarked(item, kUbiquityUploadedAttribute)) {
    uploaded_[item] = identity;  // arrived already uploaded: a download
    return;
  }
  BeginUpload(item, identity);
}

void SyncAgent::BeginUpload(const std::string& item, const Identity& identity) {
  auto& upload = uploads_[item];
  if (upload.timer != 0) {
    loop_.CancelTimer(upload.timer);
    WriteDiagnosticLine("changed during upload, starting over: " + item);
  }
  uploaded_.erase(item);
  upload.identity = identity;
  upload.elapsed = 0;
  upload.duration = options_.bandwidth > 0
                        ? options_.uploadLatency + static_cast<double>(identity.size) / options_.bandwidth
                        : options_.uploadDelay;
  Clear(item, kUbiquityUploadedAttribute);
  Set(item, kUbiquityUploadingAttribute, "1");
  Set(item, kPercentUploaded, "0");
  upload.timer = loop_.AddTimer(std::min(kTick, upload.duration), [this, item] { Tick(item); });
}

void SyncAgent::Tick(const std::string& item) {
  auto it = uploads_.find(item);
  if (it == uploads_.end()) return;
  Upload& upload = it->second;
  upload.elapsed += std::min(kTick, upload.duration);
  if (upload.elapsed + 1e-9 < upload.duration) {
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.0f", 100.0 * upload.elapsed / upload.duration);
    Set(item, kPercentUploaded, percent);
    upload.timer = loop_.AddTimer(std::min(kTick, upload.duration - upload.elapsed), [this, item] { Tick(item); });
    return;
  }
  Identity now;
  bool folder = false;
  if (!IdentityOf(item, &now.size, &now.modified, &folder)) {
    uploads_.erase(it);
    WriteDiagnosticLine("upload stopped, item gone: " + item);
    return;
  }
  if (!(now == upload.identity)) {  // changed in the meantime: again
    upload.timer = 0;
    BeginUpload(item, now);
    return;
  }
  Clear(item, kUbiquityUploadingAttribute);
  Clear(item, kPercentUploaded);
  Set(item, kUbiquityUploadedAttribute, "1");
  uploaded_[item] = upload.identity;
  uploads_.erase(it);
  ++completed_;
  std::string error;
  if (!AppendJournalLine(options_.journal, "uploaded", item, &error) && !journalFailed_) {
    journalFailed_ = true;
    WriteDiagnosticLine("vantorel-cloudsim: " + error);
  }
}

std::vector<std::string> SyncAgent::PendingItems(const std::string& root) {
  std::vector<std::string> pending;
  std::vector<std::string> folders{root};
  while (!folders.empty()) {
    const std::string folder = folders.back();
    folders.pop_back();
    for (const std::string& child : ChildrenOf(folder)) {
      if (StaysLocal(lastPathComponent(child))) continue;
      struct stat st {};
      if (::lstat(child.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode) && !agent::IsPackageFolder(child)) {
        folders.push_back(child);
      } else if ((S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) && (!agent::IsMarked(child, kUbiquityUploadedAttribute) || agent::IsMarked(child, kUbiquityUploadingAttribute))) {
        pending.push_back(child);
      }
    }
  }
  std::sort(pending.begin(), pending.end());
  return pending;
}

}  // namespace vantorel
