// The default item-state source: the extended attributes the sync agent
// keeps on each item (SyncAttributes.h), read fresh at every question and
// never cached, so any thread may ask.

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <charconv>

#include "sources/attributes/AttributeItemSource.h"
#include "units/fs/PathUtilities.h"
#include "units/fs/SyncAttributes.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {

// The attribute's text, from the item itself (a final link is not followed).
std::optional<std::string> ReadAttribute(const std::string& path, const char* name) {
  char buffer[256];
  const ssize_t n = ::lgetxattr(path.c_str(), name, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(n));
}

bool AttributeIsTrue(const std::string& path, const char* name) {
  const auto value = ReadAttribute(path, name);
  return value && SyncAttributeIsTrue(*value);
}

class AttributeItemSource final : public ItemStateSource {
public:
  bool IsInStore(const std::string& path) override {
    if (path.empty()) return false;
    if (const auto own = ReadAttribute(path, kUbiquityItemAttribute)) return SyncAttributeIsTrue(*own);
    // Only the agent's mark on a folder above answers for an unmarked item; a
    // missing item is in no store.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    for (std::string_view folder = parentPathView(path); folder.size() > 1; folder = parentPathView(folder))
      if (AttributeIsTrue(std::string(folder), kUbiquityItemAttribute)) return true;
    return false;
  }

  bool IsUploading(const std::string& path) override {
    return !path.empty() && AttributeIsTrue(path, kUbiquityUploadingAttribute);
  }

  bool IsUploaded(const std::string& path) override {
    return !path.empty() && AttributeIsTrue(path, kUbiquityUploadedAttribute);
  }

  // The percentage of the transfer under way: an upload's while it runs, a
  // download's until the item is downloaded.
  std::optional<double> PercentDone(const std::string& path) override {
    if (path.empty()) return std::nullopt;
    std::optional<std::string> text;
    if (AttributeIsTrue(path, kUbiquityUploadingAttribute))
      text = ReadAttribute(path, kUbiquityPercentUploadedAttribute);
    else if (!AttributeIsTrue(path, kUbiquityDownloadedAttribute))
      text = ReadAttribute(path, kUbiquityPercentDownloadedAttribute);
    if (!text) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || !(value >= 0) || value > 100) return std::nullopt;  // NaN too
    return value;
  }

  bool IsDownloadFile(std::string_view path) override { return path.ends_with(kPlaceholderSuffix); }

  std::optional<std::string> ItemOfDownloadFile(std::string_view path) override {
    const std::string_view name = lastPathComponentView(path);
    if (!name.starts_with(kPlaceholderPrefix) || !name.ends_with(kPlaceholderSuffix) ||
        name.size() <= kPlaceholderPrefix.size() + kPlaceholderSuffix.size())
      return std::nullopt;
    const std::string_view itemName =
        name.substr(kPlaceholderPrefix.size(), name.size() - kPlaceholderPrefix.size() - kPlaceholderSuffix.size());
    const std::string folder = stringByDeletingLastPathComponent(path);
    return folder.empty() ? std::string(itemName) : stringByAppendingPathComponent(folder, itemName);
  }

  std::string PlaceholderPathOf(std::string_view item) override {
    const std::string folder = stringByDeletingLastPathComponent(item);
    const std::string name = std::string(kPlaceholderPrefix) + lastPathComponent(item) + std::string(kPlaceholderSuffix);
    return folder.empty() ? name : stringByAppendingPathComponent(folder, name);
  }

  bool CanHoldState(const std::string& path) override {
    char byte;
    return ::lgetxattr(path.c_str(), kUbiquityItemAttribute, &byte, 0) >= 0 || errno != ENOTSUP;
  }

  void DescribeItem(const std::string& path) override {
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
    if (IsInStore(path)) report += "\n    - on icloud";  // marked on the item or a folder above
    fact("user.ubiquity.has-conflicts", "has conflicts");
    fact("user.ubiquity.downloading-error", "downloading error");
    fact("user.ubiquity.downloading-status", "downloading status");
    fact("user.ubiquity.uploading-error", "uploading error");
    fact(kUbiquityDownloadedAttribute, "downloaded");
    fact("user.ubiquity.downloading", "downloading...");
    // The agent keeps one percentage per direction; both names report it.
    percent(kUbiquityPercentDownloadedAttribute, "downloading", "NSMetadataUbiquitousItemPercentDownloadedKey");
    percent(kUbiquityPercentDownloadedAttribute, "downloading", "NSURLUbiquitousItemPercentDownloadedKey");
    fact(kUbiquityUploadedAttribute, "uploaded");
    fact(kUbiquityUploadingAttribute, "uploading...");
    percent(kUbiquityPercentUploadedAttribute, "uploading", "NSMetadataUbiquitousItemPercentUploadedKey");
    percent(kUbiquityPercentUploadedAttribute, "uploading", "NSURLUbiquitousItemPercentUploadedKey");
    WriteDiagnosticLine(report);
  }
};

}  // namespace

std::shared_ptr<ItemStateSource> MakeAttributeItemSource() { return std::make_shared<AttributeItemSource>(); }

}  // namespace vantorel
