#include "sources/syncthing/SyncthingConfig.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

std::optional<SyncthingEndpoint> ReadSyncthingConfig(const std::string& path, std::string* problem) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *problem = "there is no " + path;
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > (8 << 20)) {
    *problem = path + " is not a Syncthing configuration";
    return std::nullopt;
  }
  // The key in it lets anyone drive Syncthing: only the user's own is used.
  if (st.st_uid != ::geteuid()) {
    *problem = path + " belongs to another user; refusing to use it";
    return std::nullopt;
  }
  xmlDoc* document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (document == nullptr) {
    *problem = path + " cannot be read as XML";
    return std::nullopt;
  }
  std::optional<SyncthingEndpoint> endpoint;
  const xmlNode* root = xmlDocGetRootElement(document);
  const xmlNode* gui = root != nullptr && NameIs(root, "configuration") ? ChildNamed(root, "gui") : nullptr;
  if (gui == nullptr) {
    *problem = path + " has no <gui> section";
  } else if (AttributeOf(gui, "enabled") == "false") {
    *problem = "Syncthing's GUI and REST API are turned off in " + path;
  } else {
    SyncthingEndpoint found;
    found.configPath = path;
    found.apiKey = TextOf(ChildNamed(gui, "apikey"));
    const std::string address = TextOf(ChildNamed(gui, "address"));
    const bool tls = AttributeOf(gui, "tls") == "true";
    if (address.rfind("unix://", 0) == 0 || address.rfind('/', 0) == 0) {
      found.unixSocket = address.rfind("unix://", 0) == 0 ? address.substr(7) : address;
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

std::optional<SyncthingEndpoint> FindSyncthingConfig(std::string* problem) {
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
