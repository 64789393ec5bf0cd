#pragma once
// Requests to Syncthing's REST API over libcurl: the API key sent with each,
// a GUI served over TLS trusted through the one certificate Syncthing keeps
// beside its configuration (no other authority), a GUI on a Unix socket,
// a time limit on every request, and an abort the moment the owner stops.
// Before a request goes over a new connection that is not TLS, the program
// listening at the other end must be the user's own (or root's, a system
// service): the key is never sent to a stranger who took the port or the
// socket while Syncthing was not running.
//
// Threads: one object per thread; it keeps its connection between requests.
// Only `stop` is shared: the owner sets it from any thread.

#include <atomic>
#include <memory>
#include <string>

namespace vantorel {

struct SyncthingEndpoint {
  std::string baseUrl;      // "http://127.0.0.1:8384", "https://…"
  std::string unixSocket;   // when the GUI listens on one (baseUrl is then http://localhost)
  std::string apiKey;
  std::string certificate;  // the GUI's own certificate, for https
  std::string configPath;   // where these were read
  bool operator==(const SyncthingEndpoint&) const = default;
};

class SyncthingHttp {
public:
  explicit SyncthingHttp(const std::atomic<bool>& stop);
  ~SyncthingHttp();
  SyncthingHttp(const SyncthingHttp&) = delete;
  SyncthingHttp& operator=(const SyncthingHttp&) = delete;

  void SetEndpoint(const SyncthingEndpoint& endpoint);

  struct Reply {
    long status = 0;    // 0: no answer (refused, timed out, aborted)
    std::string body;
    std::string error;  // why there is no answer, in words
    bool strangerListens = false;  // refused: another user's program listens there
    bool servedByRoot = false;     // the listener is root's (a system service)
    bool Ok() const { return status >= 200 && status < 300; }
  };
  // `target` is the path and query ("/rest/events?since=3"); `body` is sent
  // as JSON when not empty.
  Reply Request(const char* method, const std::string& target, double timeoutSeconds, const std::string& body = {});

  // A query value, percent-encoded.
  static std::string Escaped(const std::string& value);

  struct Handle;  // libcurl's handle and its connection's socket

private:
  std::unique_ptr<Handle> handle_;
  SyncthingEndpoint endpoint_;
  const std::atomic<bool>& stop_;
};

}  // namespace vantorel
