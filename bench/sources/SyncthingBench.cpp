// Syncthing as the tracker's source, against a scripted REST API on loopback
// (the same answers a real Syncthing gives, with no transfer behind them):
// - latency from an event's answer to its paths queued on the main loop:
//   ItemFinished (no request needed), RemoteIndexUpdated (needs the
//   device's completion and remote need read: two round trips), beside the
//   round trip of one request to the same API;
// - 10,000 files indexed at once: the main loop's longest wait while their
//   pushes reach the tracker (the lateness of a 2 ms timer; target 50 ms);
// - memory per file the source keeps (target 200 B);
// - a flood of pulls that never end and progress reports, a thousand
//   events a page for three seconds: the longest the main thread waits to
//   ask the source what status --json asks of each file (target 50 ms), and
//   the memory the process grows by.

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../LatenessProbe.h"
#include "sources/syncthing/SyncthingFiles.h"
#include "sources/LocalHttp.h"
#include "sources/syncthing/SyncthingSource.h"
#include "engine/Tracker.h"
#include "support/LoopbackListener.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/PollMainLoop.h"

namespace {

using namespace vantorel;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The API: events queued by the benchmark are answered to the long poll;
// the peer's need is what `need` holds.
class ScriptedApi {
public:
  explicit ScriptedApi(std::string root) : root_(std::move(root)) {
    fd_ = ListenOnLoopback(64, &port_);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~ScriptedApi() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    ::shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    for (auto& thread : connections_) thread.join();
    ::close(fd_);
  }
  int Port() const { return port_; }

  void Post(const std::string& type, const std::string& data) {
    std::lock_guard lock(mutex_);
    const int id = static_cast<int>(Count()) + 1;
    events_.push_back(R"({"id":)" + std::to_string(id) + R"(,"type":")" + type + R"(","data":)" + data + "}");
    changed_.notify_all();
  }
  // A whole page at once; returns when the source has asked for the
  // events after it (so that a flood never outruns a page).
  void PostPage(const std::vector<std::pair<std::string, std::string>>& page) {
    std::unique_lock lock(mutex_);
    for (const auto& [type, data] : page) {
      const int id = static_cast<int>(Count()) + 1;
      events_.push_back(R"({"id":)" + std::to_string(id) + R"(,"type":")" + type + R"(","data":)" + data + "}");
    }
    changed_.notify_all();
    taken_.wait_for(lock, std::chrono::seconds(5), [&] { return stop_ || asked_ >= Count(); });
  }
  void SetNeed(std::set<std::string> need) {
    std::lock_guard lock(mutex_);
    need_ = std::move(need);
  }

private:
  void Accept() {
    for (;;) {
      const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      std::lock_guard lock(mutex_);
      connections_.emplace_back([this, client] { Serve(client); });
    }
  }

  void Serve(int client) {
    std::string request;
    char buffer[8192];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string target = request.substr(request.find(' ') + 1, request.find(" HTTP/") - request.find(' ') - 1);
    const std::string body = Answer(target);
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < reply.size();) {
      const ssize_t n = ::write(client, reply.data() + sent, reply.size() - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::close(client);
  }

  std::string Answer(const std::string& target) {
    if (target.rfind("/rest/system/status", 0) == 0) return R"({"myID":"ME"})";
    if (target.rfind("/rest/config/folders", 0) == 0)
      return R"([{"id":"f","label":"F","path":)" + Quoted(root_) +
             R"(,"paused":false,"devices":[{"deviceID":"ME"},{"deviceID":"PEER"}]}])";
    if (target.rfind("/rest/system/connections", 0) == 0)
      return R"({"connections":{"PEER":{"connected":true,"paused":false}}})";
    std::unique_lock lock(mutex_);
    if (target.rfind("/rest/db/completion", 0) == 0) return R"({"needItems":)" + std::to_string(need_.size()) + "}";
    if (target.rfind("/rest/db/remoteneed", 0) == 0) {
      std::string files;
      for (const std::string& name : need_) files += (files.empty() ? "" : ",") + std::string(R"({"name":)") + Quoted(name) + "}";
      return R"({"files":[)" + files + R"(],"page":1,"perpage":100000})";
    }
    if (target.rfind("/rest/events", 0) == 0) {
      const auto number = [&](const char* key) -> std::size_t {
        const auto at = target.find(key);
        return at == std::string::npos ? 0 : std::stoul(target.substr(at + std::strlen(key)));
      };
      const std::size_t since = number("since=");
      const std::size_t limit = number("limit=");
      asked_ = std::max(asked_, since);
      taken_.notify_all();
      // What the source has taken is not kept (a flood would fill memory).
      for (; dropped_ < asked_ && !events_.empty(); ++dropped_) events_.pop_front();
      if (since == 0 && limit == 1) return "[]";  // where the stream stands: nothing yet
      changed_.wait_for(lock, std::chrono::seconds(5), [&] { return stop_ || Count() > since; });
      // As Syncthing does: the newest `limit` of what came since.
      std::size_t first = std::max(since, dropped_);
      if (limit > 0 && Count() - first > limit) first = Count() - limit;
      std::string out;
      for (std::size_t i = first; i < Count(); ++i) out += (out.empty() ? "" : ",") + events_[i - dropped_];
      return "[" + out + "]";
    }
    return "{}";
  }

  std::string root_;
  int fd_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::condition_variable taken_;
  std::size_t asked_ = 0;  // the newest `since` asked for
  bool stop_ = false;
  std::size_t Count() const { return dropped_ + events_.size(); }  // events posted so far
  std::deque<std::string> events_;  // those after the first `dropped_`
  std::size_t dropped_ = 0;
  std::set<std::string> need_;
  std::vector<std::thread> connections_;
};


double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main() {
  char pattern[] = "/tmp/vantorel-syncthing-bench-XXXXXX";
  const std::string base = ::mkdtemp(pattern);
  const std::string root = base + "/Sync";
  std::vector<std::string> names;
  for (int d = 0; d < 100; ++d) {
    std::filesystem::create_directories(root + "/folder" + std::to_string(d));
    for (int f = 0; f < 100; ++f) {
      names.push_back("folder" + std::to_string(d) + "/document-" + std::to_string(f) + ".txt");
      ::close(::open((root + "/" + names.back()).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
  }
  ScriptedApi api(root);
  std::ofstream(base + "/config.xml") << "<configuration><gui tls=\"false\"><address>127.0.0.1:" << api.Port()
                                      << "</address><apikey>bench</apikey></gui></configuration>";
  ::setenv("STHOMEDIR", base.c_str(), 1);

  // Memory per file the source keeps: its table after 10,000 indexed.
  {
    SyncthingFiles files(0);
    SyncthingFiles::Effects effects;
    files.SetOwnDevice("ME");
    files.SetFolders({{"f", "F", root, false, {"ME", "PEER"}}}, effects);
    SyncthingEvent indexed;
    indexed.type = SyncthingEvent::Type::LocalIndexUpdated;
    indexed.folder = "f";
    indexed.names = names;
    const std::size_t before = mallinfo2().uordblks;
    files.Apply(indexed, effects);
    effects = {};
    const std::size_t after = mallinfo2().uordblks;
    std::printf("memory per file the source keeps: %.0f B (%zu files, paths of %zu bytes; target 200 B)\n",
                static_cast<double>(after - before) / static_cast<double>(names.size()), names.size(),
                (root + "/" + names[0]).size());
  }

  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  TUserDefaults::SetStandard(std::make_unique<TUserDefaults>(base + "/prefs.plist"));
  TICloudTracker::Options options;
  options.startPollThread = false;
  options.settings.includePatterns = {".*"};
  options.source = MakeSyncthingSource();
  auto tracker = MakeRef<TICloudTracker>(options);
  tracker->SetDirectory(root);
  tracker->Start();
  const bool connected = loop.RunUntil([&] { return options.source->Describe().connected; }, 10);
  if (!connected) {
    std::printf("the source did not connect to the scripted API\n");
    return 1;
  }
  loop.RunUntil([] { return false; }, 0.5);

  // One request's round trip to this API.
  std::vector<double> trips;
  {
    std::atomic<bool> stop{false};
    LocalHttp http(stop);
    LocalEndpoint endpoint;
    endpoint.baseUrl = "http://127.0.0.1:" + std::to_string(api.Port());
    endpoint.apiKey = "bench";
    http.SetEndpoint(endpoint);
    for (int i = 0; i < 20; ++i) {
      const auto start = Clock::now();
      http.Request("GET", "/rest/db/completion?folder=f&device=PEER", 5);
      trips.push_back(Ms(Clock::now() - start));
    }
  }

  const auto queued = [&] { return tracker->GetQueueSize(); };
  const auto drain = [&] {
    for (int i = 0; i < 50 && tracker->GetQueueSize() > 0; ++i) tracker->PollOnce();
  };
  // ItemFinished: a pull that ended; nothing more to ask.
  std::vector<double> finished;
  for (int i = 0; i < 10; ++i) {
    drain();
    const int before = queued();
    const std::string item = names[static_cast<std::size_t>(i)];
    api.Post("ItemStarted", R"({"folder":"f","item":)" + Quoted(item) + R"(,"action":"update","type":"file"})");
    loop.RunUntil([&] { return queued() > before; }, 5);
    drain();
    const int again = queued();
    const auto start = Clock::now();
    api.Post("ItemFinished",
             R"({"folder":"f","item":)" + Quoted(item) + R"(,"action":"update","type":"file","error":null})");
    loop.RunUntil([&] { return queued() > again; }, 5);
    finished.push_back(Ms(Clock::now() - start));
  }
  // RemoteIndexUpdated: the peer took a file indexed here; its need is read.
  std::vector<double> remote;
  std::set<std::string> need;
  for (int i = 10; i < 20; ++i) {
    const std::string item = names[static_cast<std::size_t>(i)];
    need.insert(item);
    api.SetNeed(need);
    drain();
    const int before = queued();
    api.Post("LocalIndexUpdated", R"({"folder":"f","filenames":[)" + Quoted(item) + "]}");
    loop.RunUntil([&] { return queued() > before; }, 5);
    loop.RunUntil([] { return false; }, 0.1);  // the need read after the index update
    drain();
    const int again = queued();
    need.erase(item);
    api.SetNeed(need);
    const auto start = Clock::now();
    api.Post("RemoteIndexUpdated", R"({"folder":"f","device":"PEER"})");
    loop.RunUntil([&] { return queued() > again; }, 5);
    remote.push_back(Ms(Clock::now() - start));
  }
  std::printf("to the tracker's queue on the main loop (median of 10): ItemFinished %.2f ms, RemoteIndexUpdated "
              "%.2f ms; one REST round trip %.2f ms (median of 20; RemoteIndexUpdated needs 2)\n",
              Median(finished), Median(remote), Median(trips));

  // 10,000 files indexed at once.
  drain();
  const int before = queued();
  bench::LatenessProbe probe(loop);
  loop.RunUntil([] { return false; }, 0.3);
  const double idle = probe.worst_;
  probe.worst_ = 0;
  std::string all;
  for (std::size_t i = 20; i < names.size(); ++i) all += (all.empty() ? "" : ",") + Quoted(names[i]);
  const auto start = Clock::now();
  api.Post("LocalIndexUpdated", R"({"folder":"f","filenames":[)" + all + "]}");
  const int expected = before + static_cast<int>(names.size()) - 20;
  const bool everything = loop.RunUntil([&] { return queued() >= expected; }, 30);
  const double took = Ms(Clock::now() - start);
  loop.RunUntil([] { return false; }, 0.3);
  std::printf("%zu files indexed at once %s in %.0f ms; the main loop's longest wait %.1f ms (idle: %.1f ms; "
              "target 50 ms)\n",
              names.size() - 20, everything ? "queued" : "NOT all queued", took, probe.worst_, idle);

  // The flood: a page of 500 pulls that never end and 500 progress reports
  // naming 100 files each, page after page for three seconds, while the
  // main thread asks what status --json asks of each file in progress.
  drain();
  const double residentBefore = ResidentMiB();
  std::atomic<bool> flooding{true};
  std::atomic<int> pages{0};
  std::thread flood([&] {
    for (int page = 0; flooding; ++page) {
      std::vector<std::pair<std::string, std::string>> events;
      for (int i = 0; i < 500; ++i) {
        events.emplace_back("ItemStarted", R"({"folder":"f","item":"flood/p)" + std::to_string(page) + "-" +
                                               std::to_string(i) + R"(","action":"update","type":"file"})");
        std::string state;
        for (int n = 0; n < 100; ++n)
          state += (state.empty() ? "" : ",") + Quoted(names[static_cast<std::size_t>((page * 37 + i * 100 + n) % 10000)]) +
                   ":1";
        events.emplace_back("RemoteDownloadProgress", R"({"folder":"f","device":"PEER","state":{)" + state + "}}");
      }
      api.PostPage(events);
      ++pages;
    }
  });
  double worstAsk = 0;
  const char* floodSeconds = std::getenv("FLOOD_SECONDS");
  const auto floodEnd = Clock::now() + std::chrono::duration<double>(floodSeconds != nullptr ? std::atof(floodSeconds) : 3.0);
  std::vector<std::string> asked;
  for (int i = 0; i < 100; ++i) asked.push_back(root + "/" + names[static_cast<std::size_t>(i) * 97]);
  while (Clock::now() < floodEnd) {
    const auto ask = Clock::now();
    for (const std::string& path : asked) {
      options.source->PercentDone(path);
      options.source->DirectionOf(path);
      options.source->IsDownloading(path);
    }
    worstAsk = std::max(worstAsk, Ms(Clock::now() - ask));
    loop.RunUntil([] { return false; }, 0.01);
    drain();  // as the poll thread would
  }
  flooding = false;
  flood.join();
  const double residentAfter = ResidentMiB();
  std::printf("a flood of %d pages of 1,000 events: asking the source about 100 files took at most %.1f ms "
              "(target 50 ms); resident memory %.0f -> %.0f MiB\n",
              pages.load(), worstAsk, residentBefore, residentAfter);

  tracker->Shutdown();
  tracker.reset();
  options.source.reset();
  TUserDefaults::SetStandard(nullptr);
  MainLoop::SetMain(nullptr);
  std::filesystem::remove_all(base);
  return everything && probe.worst_ <= 50 && worstAsk <= 50 ? 0 : 1;
}
