// The Nextcloud/ownCloud source's own thread: connects to the client's
// socket (with backoff, refusing another user's), sends the questions
// queued in the table, reads the client's lines into it, and reconnects
// when the client quits or restarts.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sources/nextcloud/SyncClientSourceImpl.h"
#include "units/fs/PathSafety.h"
#include "units/runtime/Diagnostics.h"
#include "units/text/LineText.h"

namespace vantorel::syncclient {

namespace {

// Backoff between connection attempts, in seconds.
constexpr double kFirstRetry = 1.0;
constexpr double kLongestRetry = 30.0;
// Folders walked to subscribe to a registered root, at most.
constexpr std::size_t kMostFoldersWalked = 20000;
// Folders walked between two looks at the socket (and at quitting).
constexpr std::size_t kFoldersPerStep = 32;
// Paths of a walk remembered until answered, at most (the questions are
// bounded as much).
constexpr std::size_t kMostWalkedRemembered = 200000;

// Watches for the socket to appear: an inotify descriptor on the deepest
// folder of its path that exists now (the client may make the folders
// too), or -1. Whatever is created or moved in there wakes the wait, which
// then simply tries to connect.
int WatchForSocket(const std::string& socketPath) {
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return -1;
  std::string folder = socketPath;
  for (;;) {
    const auto slash = folder.find_last_of('/');
    if (slash == std::string::npos) break;
    folder.erase(slash == 0 ? 1 : slash);
    if (::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR) >= 0) return fd;
    if (folder == "/") break;
  }
  ::close(fd);
  return -1;
}

}  // namespace

SyncClientSource::SyncClientSource(SyncClientOptions options) : options_(std::move(options)) {
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

SyncClientSource::~SyncClientSource() {
  quitting_.store(true);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  Wake();
  thread_.join();
  if (wake_ >= 0) ::close(wake_);
}

void SyncClientSource::Wake() {
  const std::uint64_t one = 1;
  if (wake_ >= 0) [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
}

void SyncClientSource::Say(const std::string& line) {
  WriteDiagnosticLine(options_.serviceName + ": " + EscapedForLine(line));
}

void SyncClientSource::SayState(const std::string& line) {
  if (stateLines_.ShouldSay(line, SteadyNow())) Say(line);
}

int SyncClientSource::Connect(std::string* problem) {
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

void SyncClientSource::Run() {
  double retry = kFirstRetry;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    std::string problem;
    // Watched before trying, so that a socket made in between still wakes.
    const int appeared = WatchForSocket(options_.socketPath);
    const int fd = Connect(&problem);
    if (fd < 0) {
      if (options_.reportAbsence) SayState("waiting for the client: " + problem + ".");
      if (!WaitForWake(retry, appeared)) return;
      retry = std::min(retry * 2, kLongestRetry);
      continue;
    }
    if (appeared >= 0) ::close(appeared);
    retry = kFirstRetry;
    SayState("connected to the client at " + options_.socketPath + ".");
    SetConnected(true);
    const bool stop = Serve(fd);
    ::close(fd);
    walks_.clear();
    SetConnected(false);
    if (stop) return;
    SayState("the client went away; waiting for it to come back.");
  }
}

bool SyncClientSource::WaitForWake(double seconds, int alsoWakeOn) {
  pollfd fds[2] = {{wake_, POLLIN, 0}, {alsoWakeOn, POLLIN, 0}};
  ::poll(fds, alsoWakeOn >= 0 ? 2 : 1, static_cast<int>(seconds * 1000));
  if (alsoWakeOn >= 0) ::close(alsoWakeOn);
  std::uint64_t value;
  while (::read(wake_, &value, sizeof value) > 0) {
  }
  std::lock_guard lock(mutex_);
  return !stopping_;
}

void SyncClientSource::SetConnected(bool connected) {
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
      walked_.clear();
      rechecks_.clear();
    }
    if (!connected) PushRootsLocked();
  }
  Post([connected](Listener& listener) {
    if (listener.connectionChanged) listener.connectionChanged(connected);
  });
}

void SyncClientSource::PushRootsLocked() {
  if (rootsPushWaiting_) return;
  // The call runs on the main loop, where the source is destroyed too: it
  // never outlives the source (its listener goes first). Before anyone
  // listens nothing is posted: StartPushing tells the roots then.
  rootsPushWaiting_ = Post([this](Listener& listener) {
    std::vector<std::string> roots;
    {
      std::lock_guard lock(mutex_);
      rootsPushWaiting_ = false;
      roots = roots_;
    }
    if (listener.rootsChanged) listener.rootsChanged(roots);
  });
}

bool SyncClientSource::Serve(int fd) {
  std::string in;
  double awaitingSince = 0.0;  // questions sent and nothing heard since
  bool saidSilent = false;
  std::string out(kVersionRequest);
  bool skippingLongLine = false;
  for (;;) {
    if (quitting_.load()) return true;
    // Between looks at the socket: a step of a registration's walk, or a
    // view update once the questions before it are sent.
    const bool moreToDo = WalkSomeFolders() || UpdateOneView();
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
    int timeout = moreToDo ? 0 : 1000;
    if (!moreToDo && nextRecheck != 0.0) timeout = std::clamp(static_cast<int>((nextRecheck - SteadyNow()) * 1000) + 1, 0, 1000);
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
          // A client flooding the socket never holds quitting up.
          if (quitting_.load()) return true;
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

void SyncClientSource::SayLongLine() {
  if (!saidLongLine_) Say("dropped an over-long line from the client.");
  saidLongLine_ = true;
}

void SyncClientSource::Handle(std::string_view line, std::vector<std::string>& changed, std::string& out) {
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

void SyncClientSource::Register(const std::string& root, std::string& out) {
  if (const auto why = WhyNotASyncRoot(root)) {
    if (refusedRootsSaid_.insert(root).second) Say("not following " + root + ": " + *why + ".");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (std::find(roots_.begin(), roots_.end(), root) != roots_.end()) return;
  }
  // Asking about an item subscribes to its folder: every item of every
  // folder is asked about, which also learns their states. The walk goes
  // in steps between looks at the socket (WalkSomeFolders); its first step
  // now, before the root is told, so that what is in the root when the
  // client names it is asked about before anything that comes later.
  out += FolderStatusRequest(root);
  walks_.push_back(Walk{root, {root}, 0});
  if (walks_.size() == 1) WalkSomeFolders();
  {
    std::lock_guard lock(mutex_);
    roots_.push_back(root);
    PushRootsLocked();
  }
  if (rootLines_.ShouldSay("synchronises " + root + ".", SteadyNow())) Say("synchronises " + root + ".");
}

bool SyncClientSource::WalkSomeFolders() {
  if (walks_.empty()) return false;
  Walk& walk = walks_.front();
  for (std::size_t step = 0; step < kFoldersPerStep && walk.next < walk.folders.size(); ++step) {
    if (quitting_.load()) return false;
    const std::string folder = walk.folders[walk.next++];
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) continue;
    std::vector<std::string> entries;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "/" + name;
      entries.push_back(path);
      if (entry->d_type == DT_DIR && walk.folders.size() < kMostFoldersWalked) walk.folders.push_back(path);
    }
    ::closedir(dir);
    // (An empty folder is subscribed to by the first question about
    // something new in it.)
    std::lock_guard lock(mutex_);
    for (const std::string& path : entries) {
      AskLocked(path, false);
      if (walked_.size() < kMostWalkedRemembered) walked_.insert(path);
    }
  }
  if (walk.next >= walk.folders.size()) walks_.pop_front();
  return !walks_.empty();
}

void SyncClientSource::Unregister(const std::string& root) {
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find(roots_.begin(), roots_.end(), root);
    if (it == roots_.end()) return;
    roots_.erase(it);
    viewUpdates_.erase(root);
    PushRootsLocked();
  }
  // Its walk, if it still runs, is of no use now.
  std::erase_if(walks_, [&](const Walk& walk) { return walk.root == root; });
  if (rootLines_.ShouldSay("no longer synchronises " + root + ".", SteadyNow()))
    Say("no longer synchronises " + root + ".");
}

}  // namespace vantorel::syncclient
