#pragma once
// The sync-state protocol in extended attributes, as both sides speak it:
// the simulated agent writes it, the attribute item-state source reads it.
// Only names and the value encoding live here; each side keeps its own rules
// (what a package is, where a placeholder goes), so that a misreading on one
// side is caught by the other.
//
// "user.ubiquity.item" on an item or any folder above it: the item belongs to
// the synchronised store. "uploaded" and "uploading" on the item itself. A
// value is text; it reads as true when, after leading blanks, an optional
// sign and leading zeros, it begins with Y, y, T, t or a digit 1 to 9 (the
// agent writes "1"). A missing or unreadable attribute is false.
//
// An item of the store not yet on this computer is represented by its
// placeholder, "folder/.name.icloud" for "folder/name".

#include <cstddef>
#include <string_view>

namespace vantorel {

inline constexpr const char* kUbiquityItemAttribute = "user.ubiquity.item";
inline constexpr const char* kUbiquityUploadedAttribute = "user.ubiquity.uploaded";
inline constexpr const char* kUbiquityUploadingAttribute = "user.ubiquity.uploading";
// How far an upload or a download has come: a decimal number, 0 to 100.
inline constexpr const char* kUbiquityPercentUploadedAttribute = "user.ubiquity.percent-uploaded";
inline constexpr const char* kUbiquityPercentDownloadedAttribute = "user.ubiquity.percent-downloaded";
inline constexpr const char* kUbiquityDownloadedAttribute = "user.ubiquity.downloaded";

// What the agent writes for true.
inline constexpr std::string_view kSyncAttributeTrue = "1";

// The placeholder of a download: a hidden name with this suffix.
inline constexpr std::string_view kPlaceholderPrefix = ".";
inline constexpr std::string_view kPlaceholderSuffix = ".icloud";

// A value's reading as a boolean, as described above.
constexpr bool SyncAttributeIsTrue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

}  // namespace vantorel
