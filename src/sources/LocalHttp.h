#pragma once
// Requests to a sync client's HTTP API on this machine (Syncthing's REST
// API, rclone's remote control) over libcurl: an API key sent with each
// where there is one, a server over TLS trusted through the one certificate
// the client keeps beside its configuration (no other authority), a server
// on a Unix socket, a time limit on every request, and an abort the moment
// the owner stops. Before a request goes over a new connection that is not
// TLS, the program listening at the other end must be the user's own (or
// root's, a system service): nothing is sent to a stranger who took the
// port or the socket while the client was not running.
//
// Threads: one object per thread; it keeps its connection between requests.
// Only `stop` is shared: the owner sets it from any thread.

#include <atomic>
#include <memory>
#include <string>

namespace vantorel {

struct LocalEndpoint {
  std::string baseUrl;      // "http://127.0.0.1:8384", "https://…"
  std::string unixSocket;   // when the server listens on one (baseUrl is then http://localhost)
  std::string apiKey;       // Syncthing's; none for rclone
  std::string certificate;  // the GUI's own certificate, for https
  std::string configPath;   // where these were read
  bool operator==(const LocalEndpoint&) const = default;
};

class LocalHttp {
public:
  explicit LocalHttp(const std::atomic<bool>& stop);
  ~LocalHttp();
  LocalHttp(const LocalHttp&) = delete;
  LocalHttp& operator=(const LocalHttp&) = delete;

  void SetEndpoint(const LocalEndpoint& endpoint);

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
  LocalEndpoint endpoint_;
  const std::atomic<bool>& stop_;
};

}  // namespace vantorel
