// The Nextcloud/ownCloud source's table of the client's states and the
// rules that turn them into answers (SyncClientSource.h says what they mean).

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "sources/nextcloud/SyncClientSourceImpl.h"
#include "units/fs/PathSafety.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace syncclient {

namespace {

Stamp ContentStamp(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return kMissing;
  return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

bool IsUnder(const std::string& path, const std::string& root) { return IsWithinFolder(path, root); }

// A path the protocol can carry: absolute, one line.
bool CanAskAbout(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.find('\n') == std::string::npos &&
         path.find('\0') == std::string::npos && path.size() <= 4096;
}

// ".NAME.~hex": the client's temporary file while NAME arrives.
std::optional<std::string_view> ItemNameOfTemporary(std::string_view name) {
  const std::size_t tilde = name.rfind(".~");
  if (name.size() < 5 || name.front() != '.' || tilde == std::string_view::npos || tilde < 2) return std::nullopt;
  const std::string_view hex = name.substr(tilde + 2);
  if (hex.empty() || hex.size() > 16) return std::nullopt;
  for (const char c : hex)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  return name.substr(1, tilde - 1);
}

// How long a download file is remembered for its item.
constexpr double kDownloadMemory = 600.0;
// Download files remembered before the old ones are swept out.
constexpr std::size_t kMostDownloadsRemembered = 10000;
// Paths waiting to be asked about, at most: beyond, the oldest are dropped.
constexpr std::size_t kMostQueuedQuestions = 200000;
// Items whose state is kept, at most (SweepTableLocked).
constexpr std::size_t kMostTableEntries = 200000;
// Errors said once each, remembered at most.
constexpr std::size_t kMostErrorsRemembered = 10000;

}  // namespace

bool SyncClientSource::IsInStore(const std::string& path) {
  std::lock_guard lock(mutex_);
  return RootOfLocked(path) != nullptr;
}

bool SyncClientSource::IsTracked(const std::string& path) {
  if (!CanAskAbout(path)) return false;
  std::lock_guard lock(mutex_);
  if (RootOfLocked(path) == nullptr) return false;
  const auto it = table_.find(path);
  if (it != table_.end() && it->second.state == ClientItemState::Ignored) return false;
  // An online-only placeholder is tracked only while it is fetched.
  if (IsPlaceholderName(path)) return it != table_.end() && it->second.state == ClientItemState::Syncing;
  return true;
}

bool SyncClientSource::IsUploaded(const std::string& path) {
  if (!CanAskAbout(path)) return false;
  std::lock_guard lock(mutex_);
  if (ReceivedLocked(path)) return true;
  if (RootOfLocked(path) == nullptr) return false;
  auto it = table_.find(path);
  if (it == table_.end()) {
    AskLocked(path, true);
    return false;
  }
  Entry& entry = it->second;
  if (entry.state != ClientItemState::Ok || entry.changePending) return false;
  if (ContentStamp(path) == entry.okStamp) return true;
  // Changed since the client said OK: it has to say so again.
  entry.changePending = true;
  entry.otherStateSinceChange = false;
  entry.changeSeenAt = SteadyNow();
  AskLocked(path, true);
  rechecks_.emplace_back(entry.changeSeenAt + options_.settleSeconds, path);
  return false;
}

bool SyncClientSource::IsDownloading(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = downloads_.find(path);
  return it != downloads_.end() && ::access(it->second.file.c_str(), F_OK) == 0;
}

bool SyncClientSource::IsInError(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto it = table_.find(path);
  return it != table_.end() && it->second.state == ClientItemState::Error;
}

TransferDirection SyncClientSource::DirectionOf(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (downloads_.count(path) != 0) return TransferDirection::Receiving;
  const auto it = table_.find(path);
  if (it != table_.end() && it->second.seenSyncing) return TransferDirection::Sending;
  return TransferDirection::Unknown;
}

bool SyncClientSource::IsDownloadFile(std::string_view path) {
  const std::string_view name = lastPathComponentView(path);
  if (const auto item = ItemNameOfTemporary(name)) {
    RememberDownload(std::string(path), std::string(parentPathView(path)) + "/" + std::string(*item));
    return true;
  }
  if (!IsPlaceholderName(path)) return false;
  std::lock_guard lock(mutex_);
  const auto it = table_.find(std::string(path));
  if (it == table_.end() || it->second.state != ClientItemState::Syncing) return false;
  downloads_[ItemOfPlaceholder(path)] = Download{std::string(path), SteadyNow(), kMissing};
  return true;
}

std::optional<std::string> SyncClientSource::ItemOfDownloadFile(std::string_view path) {
  const std::string_view name = lastPathComponentView(path);
  if (const auto item = ItemNameOfTemporary(name)) return std::string(parentPathView(path)) + "/" + std::string(*item);
  if (IsPlaceholderName(path)) return ItemOfPlaceholder(path);
  return std::nullopt;
}

std::string SyncClientSource::PlaceholderPathOf(std::string_view item) {
  std::lock_guard lock(mutex_);
  const auto it = downloads_.find(std::string(item));
  if (it != downloads_.end()) return it->second.file;
  return std::string(item) + options_.placeholderSuffix;
}

ItemStateSource::Description SyncClientSource::Describe() {
  std::lock_guard lock(mutex_);
  return {options_.serviceName, connected_, roots_, {}};
}

std::optional<std::string> SyncClientSource::WaitingFor() {
  std::lock_guard lock(mutex_);
  if (connected_) return std::nullopt;
  return "Waiting: the " + options_.serviceName + " client is not running.";
}

void SyncClientSource::DescribeItem(const std::string& path) {
  std::string state = "unknown";
  {
    std::lock_guard lock(mutex_);
    if (const auto it = table_.find(path); it != table_.end()) state = ClientItemStateName(it->second.state);
  }
  WriteDiagnosticLine(options_.serviceName + " status: " + EscapedForLine(lastPathComponent(path)) + ": " + state);
}

void SyncClientSource::StartPushing(MainLoop& loop, Listener listener) {
  const auto listening = pushes_.Start(loop, std::move(listener));
  std::vector<std::string> roots;
  bool connected;
  {
    std::lock_guard lock(mutex_);
    roots = roots_;
    connected = connected_;
  }
  // What happened before anyone listened.
  if (listening->rootsChanged && !roots.empty()) listening->rootsChanged(roots);
  if (listening->connectionChanged && !connected) listening->connectionChanged(false);
}

const std::string* SyncClientSource::RootOfLocked(const std::string& path) const {
  for (const std::string& root : roots_)
    if (IsUnder(path, root)) return &root;
  return nullptr;
}

void SyncClientSource::RememberDownload(const std::string& file, const std::string& item) {
  std::lock_guard lock(mutex_);
  if (downloads_.size() >= kMostDownloadsRemembered) {
    // Downloads nobody asked about again are forgotten in time anyway.
    const double now = SteadyNow();
    std::erase_if(downloads_, [now](const auto& entry) { return now - entry.second.seenAt > kDownloadMemory; });
  }
  Download& download = downloads_[item];
  if (download.file != file) download = Download{file, SteadyNow(), kMissing};
}

bool SyncClientSource::ReceivedLocked(const std::string& path) {
  const auto it = downloads_.find(path);
  if (it == downloads_.end()) return false;
  Download& download = it->second;
  const Stamp now = ContentStamp(path);
  if (SteadyNow() - download.seenAt > kDownloadMemory || now == kMissing ||
      ::access(download.file.c_str(), F_OK) == 0) {
    if (now == kMissing || SteadyNow() - download.seenAt > kDownloadMemory) downloads_.erase(it);
    return false;  // gone, forgotten, or still arriving
  }
  if (download.itemStamp == kMissing) download.itemStamp = now;
  if (download.itemStamp != now) {
    downloads_.erase(it);  // changed here since it arrived
    return false;
  }
  return true;
}

void SyncClientSource::AskLocked(const std::string& path, bool wanted) {
  if (!CanAskAbout(path)) return;
  if (wanted) wanted_.insert(path);
  if (!queued_.insert(path).second) return;
  if (questions_.size() >= kMostQueuedQuestions) {
    queued_.erase(questions_.front());
    questions_.pop_front();
  }
  questions_.push_back(path);
  if (!wakePending_) {
    wakePending_ = true;
    Wake();
  }
}

void SyncClientSource::Status(const std::string& path, ClientItemState state, std::vector<std::string>& changed) {
  std::lock_guard lock(mutex_);
  // Thousands of lines about paths elsewhere cost a lookup each, nothing more.
  if (RootOfLocked(path) == nullptr) return;
  const bool wanted = wanted_.erase(path) > 0;
  const bool walked = walked_.erase(path) > 0;
  SweepTableLocked();
  auto [it, added] = table_.try_emplace(path);
  Entry& entry = it->second;
  const ClientItemState before = entry.state;
  const bool pendingBefore = entry.changePending;
  entry.state = state;
  if (state == ClientItemState::Syncing) entry.seenSyncing = true;
  if (state != ClientItemState::Ok) {
    entry.otherStateSinceChange = true;
  } else if (!entry.changePending || entry.otherStateSinceChange ||
             SteadyNow() - entry.changeSeenAt >= options_.settleSeconds) {
    entry.okStamp = ContentStamp(path);
    entry.changePending = false;
  }
  if (reportedErrors_.size() >= kMostErrorsRemembered) reportedErrors_.clear();
  if (state == ClientItemState::Error && before != ClientItemState::Error && reportedErrors_.insert(path).second)
    Say(path + " could not be synchronised (the client reports an error).");
  // A file the walk at connection found here and the client is sending
  // (it was mid-upload) is news too, though nobody asked about it. Not a
  // file that came later: one arriving is told of by its temporary file,
  // and its status may come before the tracker has seen that.
  const bool sentAlready = walked && added && state == ClientItemState::Syncing && downloads_.count(path) == 0 &&
                           ::access(path.c_str(), F_OK) == 0;
  if (wanted || sentAlready || (!added && (before != state || pendingBefore != entry.changePending)))
    changed.push_back(path);
}

void SyncClientSource::UpdateView(const std::string& root) {
  std::lock_guard lock(mutex_);
  if (std::find(roots_.begin(), roots_.end(), root) != roots_.end()) viewUpdates_.insert(root);
}

bool SyncClientSource::UpdateOneView() {
  std::lock_guard lock(mutex_);
  if (viewUpdates_.empty() || !questions_.empty()) return false;
  const std::string root = *viewUpdates_.begin();
  viewUpdates_.erase(viewUpdates_.begin());
  for (const auto& [path, entry] : table_)
    if (IsUnder(path, root) && queued_.insert(path).second) questions_.push_back(path);
  return !viewUpdates_.empty();
}

void SyncClientSource::SweepTableLocked() {
  if (table_.size() < kMostTableEntries) return;
  // What is in progress or waits for an answer stays; the rest is asked
  // about again when the tracker needs it.
  std::erase_if(table_, [this](const auto& item) {
    const Entry& entry = item.second;
    return entry.state != ClientItemState::Syncing && !entry.changePending && queued_.count(item.first) == 0 &&
           wanted_.count(item.first) == 0;
  });
  if (table_.size() < kMostTableEntries * 3 / 4) return;
  // A client claiming that everything is in progress: half of it is
  // forgotten, whatever it is.
  std::size_t drop = table_.size() / 2;
  std::erase_if(table_, [&drop](const auto&) { return drop > 0 && drop-- > 0; });
}

}  // namespace syncclient

std::optional<SyncClientOptions> SyncClientOptionsFor(const std::string& client) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string folder = runtime != nullptr && *runtime == '/' ? runtime : "/tmp/runtime-" + std::to_string(::geteuid());
  SyncClientOptions options;
  if (client == "nextcloud") {
    options.serviceName = "Nextcloud";
    options.placeholderSuffix = ".nextcloud";
  } else if (client == "owncloud") {
    options.serviceName = "ownCloud";
    options.placeholderSuffix = ".owncloud";
  } else {
    return std::nullopt;
  }
  options.socketPath = folder + "/" + options.serviceName + "/socket";
  return options;
}

std::shared_ptr<ItemStateSource> MakeSyncClientSource(SyncClientOptions options) {
  return std::make_shared<syncclient::SyncClientSource>(std::move(options));
}

}  // namespace vantorel
