#include "sources/LocalHttp.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "units/net/ListenerOwner.h"

namespace vantorel {

namespace {

// Answers larger than this are cut off as failed. Pages are asked for in
// pieces (a thousand events or names) that come nowhere near it, and the
// parsed form of an answer takes many times its size in memory.
constexpr std::size_t kLargestBody = 4u << 20;

void InitializeCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string body;
  bool tooLarge = false;
  const std::atomic<bool>* stop = nullptr;
  int* socket = nullptr;    // the connection's, as opened
  int* verified = nullptr;  // the connection whose listener was found to be the user's
  bool checkListener = false;
  std::string unixSocket;
  std::optional<uid_t> stranger;
  bool servedByRoot = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (transfer->body.size() + bytes > kLargestBody) {
    transfer->tooLarge = true;
    return 0;
  }
  transfer->body.append(data, bytes);
  return bytes;
}

// Called about once a second during a long poll, and more often while data
// flows: a non-zero return aborts the request.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->stop->load() ? 1 : 0;
}

// Called once a connection is made or reused, before the request (and the
// key in it) is sent.
int CheckListener(void* user, char*, char*, int, int) {
  auto* transfer = static_cast<Transfer*>(user);
  if (!transfer->checkListener) return CURL_PREREQFUNC_OK;
  const int socket = *transfer->socket;
  // A connection kept from an earlier request was looked at then.
  if (socket >= 0 && socket == *transfer->verified) return CURL_PREREQFUNC_OK;
  std::string problem;
  std::optional<uid_t> owner = socket >= 0 ? ListenerOwner(socket, &problem) : std::nullopt;
  struct stat st {};
  // A Unix socket's file is the user's too (a stranger's in a folder the
  // user can write to would be no better).
  if (owner && !transfer->unixSocket.empty() && ::lstat(transfer->unixSocket.c_str(), &st) == 0 &&
      st.st_uid != *owner && st.st_uid != ::geteuid())
    owner = st.st_uid;
  if (owner && (*owner == ::geteuid() || *owner == 0)) {
    transfer->servedByRoot = *owner == 0 && ::geteuid() != 0;
    *transfer->verified = socket;
    return CURL_PREREQFUNC_OK;
  }
  transfer->stranger = owner.value_or(static_cast<uid_t>(-1));
  return CURL_PREREQFUNC_ABORT;
}

}  // namespace

// The socket of the one connection curl keeps, and whether its listener
// was found to be the user's.
struct LocalHttp::Handle {
  CURL* curl = nullptr;
  int socket = -1;
  int verified = -1;
  ~Handle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

namespace {

curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  auto* handle = static_cast<LocalHttp::Handle*>(user);
  handle->socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  handle->verified = -1;
  return handle->socket >= 0 ? handle->socket : CURL_SOCKET_BAD;
}

int CloseSocket(void* user, curl_socket_t fd) {
  auto* handle = static_cast<LocalHttp::Handle*>(user);
  if (handle->socket == fd) handle->socket = handle->verified = -1;
  return ::close(fd);
}

}  // namespace

LocalHttp::LocalHttp(const std::atomic<bool>& stop) : handle_(std::make_unique<Handle>()), stop_(stop) {
  InitializeCurlOnce();
  handle_->curl = curl_easy_init();
}

LocalHttp::~LocalHttp() = default;

void LocalHttp::SetEndpoint(const LocalEndpoint& endpoint) {
  if (endpoint == endpoint_) return;
  endpoint_ = endpoint;
  // A new place or key: nothing of the old connection is kept.
  if (handle_->curl != nullptr) curl_easy_cleanup(handle_->curl);
  handle_->curl = curl_easy_init();
}

std::string LocalHttp::Escaped(const std::string& value) {
  InitializeCurlOnce();
  char* escaped = curl_easy_escape(nullptr, value.c_str(), static_cast<int>(value.size()));
  if (escaped == nullptr) return {};
  std::string text(escaped);
  curl_free(escaped);
  return text;
}

LocalHttp::Reply LocalHttp::Request(const char* method, const std::string& target, double timeoutSeconds,
                                            const std::string& body) {
  Reply reply;
  CURL* curl = handle_->curl;
  if (curl == nullptr) {
    reply.error = "cannot make an HTTP request (libcurl failed to start)";
    return reply;
  }
  Transfer transfer;
  transfer.stop = &stop_;
  transfer.socket = &handle_->socket;
  transfer.verified = &handle_->verified;
  transfer.unixSocket = endpoint_.unixSocket;
  // A certificate of Syncthing's own proves who answers; without TLS the
  // listener's owner has to.
  transfer.checkListener = endpoint_.certificate.empty();
  const std::string url = endpoint_.baseUrl + target;
  const std::string key = "X-API-Key: " + endpoint_.apiKey;
  curl_slist* headers = endpoint_.apiKey.empty() ? nullptr : curl_slist_append(nullptr, key.c_str());
  if (!body.empty()) headers = curl_slist_append(headers, "Content-Type: application/json");

  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (!body.empty()) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, handle_.get());
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, handle_.get());
  curl_easy_setopt(curl, CURLOPT_PREREQFUNCTION, CheckListener);
  curl_easy_setopt(curl, CURLOPT_PREREQDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutSeconds * 1000));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 3000L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  // Never through a proxy: the API is on this machine.
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  if (!endpoint_.unixSocket.empty()) curl_easy_setopt(curl, CURLOPT_UNIX_SOCKET_PATH, endpoint_.unixSocket.c_str());
  if (!endpoint_.certificate.empty()) {
    // Only Syncthing's own certificate is trusted. It names no address, so
    // the name is not checked; the certificate itself is.
    curl_easy_setopt(curl, CURLOPT_CAINFO, endpoint_.certificate.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }

  const CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  reply.servedByRoot = transfer.servedByRoot;
  if (transfer.stranger) {
    reply.strangerListens = true;
    const std::string where = endpoint_.unixSocket.empty() ? endpoint_.baseUrl : endpoint_.unixSocket;
    reply.error = where + " is listened on by " +
                  (*transfer.stranger == static_cast<uid_t>(-1)
                       ? std::string("a program whose user cannot be told")
                       : "another user (uid " + std::to_string(*transfer.stranger) + ")") +
                  "; not sending the API key";
    // Nothing of this connection is used again.
    curl_easy_cleanup(curl);
    handle_->curl = curl_easy_init();
  } else if (code == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    reply.body = std::move(transfer.body);
  } else if (transfer.tooLarge) {
    reply.error = "its answer was larger than " + std::to_string(kLargestBody >> 20) + " MiB";
  } else if (code == CURLE_ABORTED_BY_CALLBACK) {
    reply.error = "stopped";
  } else {
    reply.error = curl_easy_strerror(code);
  }
  return reply;
}

}  // namespace vantorel
