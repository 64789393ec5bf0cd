#include "sources/nextcloud/SyncClientSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "sources/SourcePushes.h"
#include "sources/nextcloud/SyncClientProtocol.h"
#include "units/fs/PathUtilities.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/text/LineText.h"

namespace vantorel {

namespace {

using Stamp = std::pair<std::int64_t, std::int64_t>;  // size and modification time
constexpr Stamp kMissing{-1, 0};

Stamp ContentStamp(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return kMissing;
  return {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool IsUnder(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.size() >= root.size() && path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

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

// Backoff between connection attempts, in seconds.
constexpr double kFirstRetry = 1.0;
constexpr double kLongestRetry = 30.0;
// How long a download file is remembered for its item.
constexpr double kDownloadMemory = 600.0;
// Download files remembered before the old ones are swept out.
constexpr std::size_t kMostDownloadsRemembered = 10000;
// Folders walked to subscribe to a registered root, at most.
constexpr std::size_t kMostFoldersWalked = 20000;
// Paths waiting to be asked about, at most: beyond, the oldest are dropped.
constexpr std::size_t kMostQueuedQuestions = 200000;

class SyncClientSource final : public ItemStateSource {
public:
  explicit SyncClientSource(SyncClientOptions options) : options_(std::move(options)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }

  ~SyncClientSource() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    Wake();
    thread_.join();
    if (wake_ >= 0) ::close(wake_);
  }

  // --- questions (any thread) ------------------------------------------------

  bool IsInStore(const std::string& path) override {
    std::lock_guard lock(mutex_);
    return RootOfLocked(path) != nullptr;
  }

  bool IsTracked(const std::string& path) override {
    if (!CanAskAbout(path)) return false;
    std::lock_guard lock(mutex_);
    if (RootOfLocked(path) == nullptr) return false;
    const auto it = table_.find(path);
    if (it != table_.end() && it->second.state == ClientItemState::Ignored) return false;
    // An online-only placeholder is tracked only while it is fetched.
    if (IsPlaceholderName(path)) return it != table_.end() && it->second.state == ClientItemState::Syncing;
    return true;
  }

  bool IsUploading(const std::string& path) override { return IsTracked(path) && !IsUploaded(path); }

  bool IsUploaded(const std::string& path) override {
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

  bool IsDownloading(const std::string& path) override {
    std::lock_guard lock(mutex_);
    const auto it = downloads_.find(path);
    return it != downloads_.end() && ::access(it->second.file.c_str(), F_OK) == 0;
  }

  bool IsInError(const std::string& path) override {
    std::lock_guard lock(mutex_);
    const auto it = table_.find(path);
    return it != table_.end() && it->second.state == ClientItemState::Error;
  }

  TransferDirection DirectionOf(const std::string& path) override {
    std::lock_guard lock(mutex_);
    if (downloads_.count(path) != 0) return TransferDirection::Receiving;
    const auto it = table_.find(path);
    if (it != table_.end() && it->second.seenSyncing) return TransferDirection::Sending;
    return TransferDirection::Unknown;
  }

  bool IsDownloadFile(std::string_view path) override {
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

  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override {
    const std::string_view name = lastPathComponentView(path);
    if (const auto item = ItemNameOfTemporary(name)) return std::string(parentPathView(path)) + "/" + std::string(*item);
    if (IsPlaceholderName(path)) return ItemOfPlaceholder(path);
    return std::nullopt;
  }

  std::string PlaceholderPathOf(std::string_view item) override {
    std::lock_guard lock(mutex_);
    const auto it = downloads_.find(std::string(item));
    if (it != downloads_.end()) return it->second.file;
    return std::string(item) + options_.placeholderSuffix;
  }

  Description Describe() override {
    std::lock_guard lock(mutex_);
    return {options_.serviceName, connected_, roots_};
  }

  void DescribeItem(const std::string& path) override {
    std::string state = "unknown";
    {
      std::lock_guard lock(mutex_);
      if (const auto it = table_.find(path); it != table_.end()) state = ClientItemStateName(it->second.state);
    }
    WriteDiagnosticLine(options_.serviceName + " status: " + EscapedForLine(lastPathComponent(path)) + ": " + state);
  }

  // --- pushes (main thread) -----------------------------------------------------

  void StartPushing(MainLoop& loop, Listener listener) override {
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

  const std::string* RootOfLocked(const std::string& path) const {
    for (const std::string& root : roots_)
      if (IsUnder(path, root)) return &root;
    return nullptr;
  }

  void RememberDownload(const std::string& file, const std::string& item) {
    std::lock_guard lock(mutex_);
    if (downloads_.size() >= kMostDownloadsRemembered) {
      // Downloads nobody asked about again are forgotten in time anyway.
      const double now = SteadyNow();
      std::erase_if(downloads_, [now](const auto& entry) { return now - entry.second.seenAt > kDownloadMemory; });
    }
    Download& download = downloads_[item];
    if (download.file != file) download = Download{file, SteadyNow(), kMissing};
  }

  // The item arrived through a download file this source saw, and has not
  // been changed here since.
  bool ReceivedLocked(const std::string& path) {
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

  // Queues a question for the client; `wanted`: its answer is pushed even
  // when it is the first one.
  void AskLocked(const std::string& path, bool wanted) {
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

  void Wake() {
    const std::uint64_t one = 1;
    if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
  }

  // --- the client's thread ------------------------------------------------------

  // Lines here carry the client's paths, which may hold any byte.
  void Say(const std::string& line) { WriteDiagnosticLine(options_.serviceName + ": " + EscapedForLine(line)); }

  // One line per change of the connection's state, not per attempt.
  void SayState(const std::string& line) {
    if (line == lastStateLine_) return;
    lastStateLine_ = line;
    Say(line);
  }

  int Connect(std::string* problem) {
    struct stat st {};
    if (::lstat(options_.socketPath.c_str(), &st) != 0) {
      *problem = "its client is not running (no socket at " + options_.socketPath + ")";
      return -1;
    }
    if (!S_ISSOCK(st.st_mode)) {
      *problem = options_.socketPath + " is not a socket";
      return -1;
    }
    if (st.st_uid != ::geteuid()) {
      *problem = options_.socketPath + " belongs to another user; refusing to use it";
      return -1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (options_.socketPath.size() >= sizeof address.sun_path) {
      *problem = "the socket's path is too long";
      return -1;
    }
    std::memcpy(address.sun_path, options_.socketPath.data(), options_.socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      *problem = std::strerror(errno);
      return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
      *problem = std::string("cannot connect to ") + options_.socketPath + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid != ::geteuid()) {
      *problem = "the process behind " + options_.socketPath + " is another user's; refusing to use it";
      ::close(fd);
      return -1;
    }
    return fd;
  }

  void Run() {
    double retry = kFirstRetry;
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
      }
      std::string problem;
      const int fd = Connect(&problem);
      if (fd < 0) {
        if (options_.reportAbsence) SayState("waiting for the client: " + problem + ".");
        if (!WaitForWake(retry)) return;
        retry = std::min(retry * 2, kLongestRetry);
        continue;
      }
      retry = kFirstRetry;
      SayState("connected to the client at " + options_.socketPath + ".");
      SetConnected(true);
      const bool stop = Serve(fd);
      ::close(fd);
      SetConnected(false);
      if (stop) return;
      SayState("the client went away; waiting for it to come back.");
    }
  }

  // Sleeps up to `seconds`; false when the source is going away.
  bool WaitForWake(double seconds) {
    pollfd wake{wake_, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(seconds * 1000));
    std::uint64_t value;
    while (::read(wake_, &value, sizeof value) > 0) {
    }
    std::lock_guard lock(mutex_);
    return !stopping_;
  }

  void SetConnected(bool connected) {
    std::vector<std::string> roots;
    {
      std::lock_guard lock(mutex_);
      connected_ = connected;
      if (!connected) {
        // The client registers its folders again when it comes back; what
        // it said of items stays until it says otherwise.
        roots_.clear();
        queued_.clear();
        questions_.clear();
        wanted_.clear();
        rechecks_.clear();
      }
      roots = roots_;
    }
    Post([connected, roots](Listener& listener) {
      if (listener.connectionChanged) listener.connectionChanged(connected);
      if (!connected && listener.rootsChanged) listener.rootsChanged(roots);
    });
  }

  // Serves one connection until it ends; true when the source is stopping.
  bool Serve(int fd) {
    std::string in;
    double awaitingSince = 0.0;  // questions sent and nothing heard since
    bool saidSilent = false;
    std::string out(kVersionRequest);
    bool skippingLongLine = false;
    for (;;) {
      double nextRecheck = 0.0;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return true;
        // Questions become requests while the client keeps up with them.
        while (!questions_.empty() && out.size() < 256 * 1024) {
          const std::string& path = questions_.front();
          out += FileStatusRequest(path);
          queued_.erase(path);
          questions_.pop_front();
        }
        wakePending_ = false;
        const double now = SteadyNow();
        for (auto it = rechecks_.begin(); it != rechecks_.end();) {
          if (it->first <= now) {
            out += FileStatusRequest(it->second);
            it = rechecks_.erase(it);
          } else {
            nextRecheck = nextRecheck == 0.0 ? it->first : std::min(nextRecheck, it->first);
            ++it;
          }
        }
      }
      pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0}, {wake_, POLLIN, 0}};
      int timeout = 1000;
      if (nextRecheck != 0.0) timeout = std::clamp(static_cast<int>((nextRecheck - SteadyNow()) * 1000) + 1, 0, 1000);
      if (::poll(fds, 2, timeout) < 0 && errno != EINTR) return false;
      if (fds[1].revents & POLLIN) {
        std::uint64_t value;
        while (::read(wake_, &value, sizeof value) > 0) {
        }
      }
      if (!out.empty() && (fds[0].revents & POLLOUT)) {
        const ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) {
          out.erase(0, static_cast<std::size_t>(n));
          if (awaitingSince == 0.0) awaitingSince = SteadyNow();
        }
      }
      // A client that takes questions and never answers blocks nobody (the
      // table answers meanwhile), but it is said once.
      if (awaitingSince != 0.0 && !saidSilent && SteadyNow() - awaitingSince > options_.silenceSeconds) {
        Say("the client has not answered for " + std::to_string(static_cast<int>(options_.silenceSeconds)) +
            " seconds; its items keep their last known state.");
        saidSilent = true;
      }
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (n > 0) {
          awaitingSince = 0.0;
          if (saidSilent) Say("the client answers again.");
          saidSilent = false;
          in.append(buffer, static_cast<std::size_t>(n));
          std::vector<std::string> changed;
          std::size_t start = 0;
          for (std::size_t end; (end = in.find('\n', start)) != std::string::npos; start = end + 1) {
            if (skippingLongLine) {
              skippingLongLine = false;
              continue;
            }
            if (end - start > kLongestClientLine) {
              SayLongLine();
              continue;
            }
            Handle(std::string_view(in).substr(start, end - start), changed, out);
          }
          in.erase(0, start);
          if (in.size() > kLongestClientLine) {
            // A line longer than any message: dropped up to its end.
            SayLongLine();
            skippingLongLine = true;
            in.clear();
          }
          if (!changed.empty())
            Post([changed](Listener& listener) {
              if (listener.pathsChanged) listener.pathsChanged(changed);
            });
        }
      }
    }
  }

  void SayLongLine() {
    if (!saidLongLine_) Say("dropped an over-long line from the client.");
    saidLongLine_ = true;
  }

  void Handle(std::string_view line, std::vector<std::string>& changed, std::string& out) {
    const auto message = ParseClientLine(line);
    if (!message) {
      if (!saidGarbage_) Say("ignoring a line the client sent that is not understood.");
      saidGarbage_ = true;
      return;
    }
    switch (message->kind) {
      case ClientMessage::Kind::RegisterPath: Register(message->path, out); break;
      case ClientMessage::Kind::UnregisterPath: Unregister(message->path); break;
      case ClientMessage::Kind::Status: Status(message->path, message->state, changed); break;
      case ClientMessage::Kind::UpdateView: UpdateView(message->path); break;
      case ClientMessage::Kind::Version:
        Say("the client's version is " + message->text + ".");
        break;
      case ClientMessage::Kind::Error: break;  // the answer to a request it does not know
    }
  }

  void Register(const std::string& root, std::string& out) {
    std::vector<std::string> roots;
    {
      std::lock_guard lock(mutex_);
      if (std::find(roots_.begin(), roots_.end(), root) != roots_.end()) return;
      roots_.push_back(root);
      roots = roots_;
    }
    Say("synchronises " + root + ".");
    Post([roots](Listener& listener) {
      if (listener.rootsChanged) listener.rootsChanged(roots);
    });
    // Asking about an item subscribes to its folder: ask about every item
    // of every folder, which also learns their states.
    std::vector<std::string> folders{root};
    out += FolderStatusRequest(root);
    for (std::size_t i = 0; i < folders.size() && folders.size() < kMostFoldersWalked; ++i) {
      DIR* dir = ::opendir(folders[i].c_str());
      if (dir == nullptr) continue;
      std::vector<std::string> entries;
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folders[i] + "/" + name;
        entries.push_back(path);
        if (entry->d_type == DT_DIR) folders.push_back(path);
      }
      ::closedir(dir);
      // (An empty folder is subscribed to by the first question about
      // something new in it.)
      std::lock_guard lock(mutex_);
      for (const std::string& path : entries) AskLocked(path, false);
    }
  }

  void Unregister(const std::string& root) {
    std::vector<std::string> roots;
    {
      std::lock_guard lock(mutex_);
      const auto it = std::find(roots_.begin(), roots_.end(), root);
      if (it == roots_.end()) return;
      roots_.erase(it);
      roots = roots_;
    }
    Say("no longer synchronises " + root + ".");
    Post([roots](Listener& listener) {
      if (listener.rootsChanged) listener.rootsChanged(roots);
    });
  }

  void Status(const std::string& path, ClientItemState state, std::vector<std::string>& changed) {
    std::lock_guard lock(mutex_);
    // Thousands of lines about paths elsewhere cost a lookup each, nothing more.
    if (RootOfLocked(path) == nullptr) return;
    const bool wanted = wanted_.erase(path) > 0;
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
    if (state == ClientItemState::Error && before != ClientItemState::Error && reportedErrors_.insert(path).second)
      Say(path + " could not be synchronised (the client reports an error).");
    if (wanted || (!added && (before != state || pendingBefore != entry.changePending))) changed.push_back(path);
  }

  // A sync run started, ended or stopped under `root`: everything known
  // there is asked about again.
  void UpdateView(const std::string& root) {
    std::lock_guard lock(mutex_);
    for (const auto& [path, entry] : table_)
      if (IsUnder(path, root) && queued_.insert(path).second) questions_.push_back(path);
  }

  void Post(std::function<void(Listener&)> call) { pushes_.Post(std::move(call)); }

  const SyncClientOptions options_;
  int wake_ = -1;
  std::thread thread_;

  // The client's thread's own.
  std::string lastStateLine_;
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
  std::vector<std::pair<double, std::string>> rechecks_;
  std::set<std::string> reportedErrors_;
  SourcePushes pushes_;
};

}  // namespace

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
  return std::make_shared<SyncClientSource>(std::move(options));
}

}  // namespace vantorel
