#include "sources/syncthing/SyncthingConfig.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {

std::string EnvironmentFolder(const char* name, const char* fallbackUnderHome) {
  if (const char* value = std::getenv(name); value != nullptr && *value == '/') return value;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home != '/') return {};
  return std::string(home) + "/" + fallbackUnderHome;
}

bool NameIs(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

const xmlNode* ChildNamed(const xmlNode* parent, const char* name) {
  for (const xmlNode* child = parent->children; child != nullptr; child = child->next)
    if (NameIs(child, name)) return child;
  return nullptr;
}

std::string TextOf(const xmlNode* node) {
  if (node == nullptr) return {};
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  // Surrounding blanks are layout, not value.
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string AttributeOf(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return text;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// libxml2 prints its own errors on the terminal unless told otherwise; a
// broken file is said once, in this program's words, by the caller.
void IgnoreXmlError(void*, xmlErrorPtr) {}

// The file's bytes, read by this program (no library message about a full
// descriptor table), and only when it is the user's own regular file.
std::optional<std::string> ReadOwnFile(const std::string& path, std::string* problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *problem = errno == ENOENT ? "there is no " + path : path + " cannot be opened: " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  std::optional<std::string> text;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (8 << 20)) {
    *problem = path + " is not a Syncthing configuration";
  } else if (st.st_uid != ::geteuid()) {
    // The key in it lets anyone drive Syncthing: only the user's own is used.
    *problem = path + " belongs to another user; refusing to use it";
  } else {
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    text = std::move(bytes);
  }
  ::close(fd);
  return text;
}

// "0.0.0.0:8384" and "[::]:8384" listen everywhere: asked on loopback.
std::string HostForListening(std::string host) {
  if (host == "0.0.0.0" || host.empty()) return "127.0.0.1";
  if (host == "[::]") return "[::1]";
  return host;
}

}  // namespace

std::vector<std::string> SyncthingConfigCandidates() {
  std::vector<std::string> candidates;
  if (const char* home = std::getenv("STHOMEDIR"); home != nullptr && *home == '/')
    candidates.push_back(std::string(home) + "/config.xml");
  for (const auto& folder : {EnvironmentFolder("XDG_STATE_HOME", ".local/state"),
                             EnvironmentFolder("XDG_CONFIG_HOME", ".config")})
    if (!folder.empty()) candidates.push_back(folder + "/syncthing/config.xml");
  return candidates;
}

std::optional<LocalEndpoint> ReadSyncthingConfig(const std::string& path, std::string* problem) {
  const auto text = ReadOwnFile(path, problem);
  if (!text) return std::nullopt;
  xmlSetStructuredErrorFunc(nullptr, IgnoreXmlError);  // per thread in libxml2
  xmlDoc* document = xmlReadMemory(text->data(), static_cast<int>(text->size()), path.c_str(), nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (document == nullptr) {
    *problem = path + " cannot be read as XML";
    return std::nullopt;
  }
  std::optional<LocalEndpoint> endpoint;
  const xmlNode* root = xmlDocGetRootElement(document);
  const xmlNode* gui = root != nullptr && NameIs(root, "configuration") ? ChildNamed(root, "gui") : nullptr;
  if (gui == nullptr) {
    *problem = path + " has no <gui> section";
  } else if (AttributeOf(gui, "enabled") == "false") {
    *problem = "Syncthing's GUI and REST API are turned off in " + path;
  } else {
    LocalEndpoint found;
    found.configPath = path;
    found.apiKey = TextOf(ChildNamed(gui, "apikey"));
    const std::string address = TextOf(ChildNamed(gui, "address"));
    const bool tls = AttributeOf(gui, "tls") == "true";
    if (address.rfind("unix://", 0) == 0 || address.rfind('/', 0) == 0) {
      const std::string socket = address.rfind("unix://", 0) == 0 ? address.substr(7) : address;
      // Syncthing expands "~" in it as in folder paths.
      found.unixSocket = folderSettingPath(socket).value_or(socket);
      found.baseUrl = std::string(tls ? "https" : "http") + "://localhost";
    } else if (!address.empty()) {
      const auto colon = address.rfind(':');
      const std::string host = colon == std::string::npos ? address : address.substr(0, colon);
      const std::string port = colon == std::string::npos ? "8384" : address.substr(colon + 1);
      found.baseUrl = std::string(tls ? "https" : "http") + "://" + HostForListening(host) + ":" + port;
    }
    if (tls) found.certificate = FolderOf(path) + "/https-cert.pem";
    if (found.apiKey.empty()) {
      *problem = path + " has no API key (<apikey> in <gui>); set one in Syncthing's settings";
    } else if (found.baseUrl.empty()) {
      *problem = path + " names no GUI address";
    } else {
      endpoint = std::move(found);
    }
  }
  xmlFreeDoc(document);
  return endpoint;
}

std::optional<LocalEndpoint> FindSyncthingConfig(std::string* problem) {
  std::string first;
  for (const std::string& candidate : SyncthingConfigCandidates()) {
    std::string why;
    if (auto endpoint = ReadSyncthingConfig(candidate, &why)) return endpoint;
    // A file that exists and fails says more than a missing one.
    if (first.empty() || first.rfind("there is no ", 0) == 0) first = why;
  }
  *problem = first.empty() ? "no Syncthing configuration was found (HOME is not set)" : first;
  return std::nullopt;
}

}  // namespace vantorel
