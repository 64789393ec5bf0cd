#include "engine/TrackPathUtilities.h"

#include <cerrno>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <charconv>
#include <optional>

#include "units/runtime/Diagnostics.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {

// The attribute's text, from the item itself (a final link is not followed).
std::optional<std::string> ReadAttribute(const std::string& path, const char* name) {
  char buffer[256];
  const ssize_t n = ::lgetxattr(path.c_str(), name, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

// A text's boolean reading: true when, after leading blanks, an optional sign
// and leading zeros, it begins with Y, y, T, t or a digit 1 to 9.
bool BooleanReading(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

bool AttributeIsTrue(const std::string& path, const char* name) {
  const auto value = ReadAttribute(path, name);
  return value && BooleanReading(*value);
}

// Walks the folders above `path` (never the root) until `test` holds. The
// walk is over views of the path: the tracker runs it for every queued path.
template <typename Test>
bool AnyAncestor(std::string_view path, Test test) {
  std::string_view current = parentPathView(path);
  while (current.size() > 1) {
    if (test(current)) return true;
    current = parentPathView(current);
  }
  return false;
}

}  // namespace

bool isSymbolicLink(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool doesFileContainBytes(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool isImplicitlyPackaged(std::string_view path) {
  return AnyAncestor(path, [](std::string_view folder) {
    const std::string_view extension = pathExtensionView(folder);
    return extension == "framework" || extension == "bundle";
  });
}

bool isFilePackaged(std::string_view path) {
  // The extension is looked at first so that only likely packages cost a stat.
  return AnyAncestor(path, [](std::string_view folder) {
    return hasPackageExtension(folder) && isDirectory(std::string(folder));
  });
}

bool isDownloadReference(std::string_view path) { return path.ends_with(".icloud"); }

bool isTracked(const std::string& path) {
  if (path.empty()) return false;
  if (const auto own = ReadAttribute(path, kUbiquityItemAttribute)) return BooleanReading(*own);
  // Only the agent's mark on a folder above answers for an unmarked item; a
  // missing item is in no store.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return AnyAncestor(path, [](std::string_view folder) {
    return AttributeIsTrue(std::string(folder), kUbiquityItemAttribute);
  });
}

bool isUploading(const std::string& path) { return !path.empty() && AttributeIsTrue(path, kUbiquityUploadingAttribute); }

bool isUploaded(const std::string& path) { return !path.empty() && AttributeIsTrue(path, kUbiquityUploadedAttribute); }

void ubiquityStatus(const std::string& path) {
  std::string report = "icloud status: " + lastPathComponent(path);
  const auto fact = [&](const char* attribute, const char* line) {
    if (AttributeIsTrue(path, attribute)) report += std::string("\n    - ") + line;
  };
  const auto percent = [&](const char* attribute, const char* verb, const char* key) {
    const auto text = ReadAttribute(path, attribute);
    if (!text) return;
    float value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || !(value > 0)) return;
    char shortest[32];
    const auto [out, ec2] = std::to_chars(shortest, shortest + sizeof shortest, value);
    report += std::string("\n    - ") + verb + " " + std::string(shortest, ec2 == std::errc() ? out : shortest) +
              "% (" + key + ")";
  };
  if (isTracked(path)) report += "\n    - on icloud";  // marked on the item or a folder above
  fact("user.ubiquity.has-conflicts", "has conflicts");
  fact("user.ubiquity.downloading-error", "downloading error");
  fact("user.ubiquity.downloading-status", "downloading status");
  fact("user.ubiquity.uploading-error", "uploading error");
  fact("user.ubiquity.downloaded", "downloaded");
  fact("user.ubiquity.downloading", "downloading...");
  // The agent keeps one percentage per direction; both names report it.
  percent("user.ubiquity.percent-downloaded", "downloading", "NSMetadataUbiquitousItemPercentDownloadedKey");
  percent("user.ubiquity.percent-downloaded", "downloading", "NSURLUbiquitousItemPercentDownloadedKey");
  fact(kUbiquityUploadedAttribute, "uploaded");
  fact(kUbiquityUploadingAttribute, "uploading...");
  percent("user.ubiquity.percent-uploaded", "uploading", "NSMetadataUbiquitousItemPercentUploadedKey");
  percent("user.ubiquity.percent-uploaded", "uploading", "NSURLUbiquitousItemPercentUploadedKey");
  WriteDiagnosticLine(report);
}

bool canHoldSyncState(const std::string& path) {
  char byte;
  return ::lgetxattr(path.c_str(), kUbiquityItemAttribute, &byte, 0) >= 0 || errno != ENOTSUP;
}

std::string placeholderPathForItem(std::string_view path) {
  const std::string folder = stringByDeletingLastPathComponent(path);
  const std::string name = "." + lastPathComponent(path) + ".icloud";
  return folder.empty() ? name : stringByAppendingPathComponent(folder, name);
}

}  // namespace vantorel
