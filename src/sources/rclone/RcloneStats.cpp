#include "sources/rclone/RcloneStats.h"

// The JSON library is used only in the files that read a client's answers.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

#include "sources/JsonBounds.h"
#include "units/fs/PathSafety.h"

namespace vantorel {

namespace {

// Whole answers are a few kilobytes; one past this is no answer.
constexpr std::size_t kLongestAnswer = 4 * 1024 * 1024;

std::int64_t Count(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return -1;
  const auto value = it->get<std::int64_t>();
  return value >= 0 ? value : -1;
}

}  // namespace

std::optional<std::vector<RcloneTransferring>> ParseRcloneTransferring(std::string_view text, std::size_t most) {
  if (text.size() > kLongestAnswer || LargerThanAnyRealAnswer(text, kDeepestJsonNesting, SIZE_MAX)) return std::nullopt;
  const auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  std::vector<RcloneTransferring> moving;
  const auto list = json.find("transferring");
  if (list == json.end() || list->is_null()) return moving;  // nothing moves: rclone leaves the list out
  if (!list->is_array()) return std::nullopt;
  for (const auto& entry : *list) {
    if (moving.size() == most) break;
    if (!entry.is_object()) continue;
    const auto name = entry.find("name");
    if (name == entry.end() || !name->is_string() || !IsPlainRelativePath(name->get_ref<const std::string&>())) continue;
    RcloneTransferring file;
    file.name = name->get<std::string>();
    file.size = Count(entry, "size");
    file.bytes = Count(entry, "bytes");
    if (const auto percent = entry.find("percentage"); percent != entry.end() && percent->is_number()) {
      const double value = percent->get<double>();
      file.percentage = std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 0.0;
    } else if (file.size > 0 && file.bytes >= 0) {
      file.percentage = std::min(100.0, 100.0 * static_cast<double>(file.bytes) / static_cast<double>(file.size));
    }
    moving.push_back(std::move(file));
  }
  return moving;
}

}  // namespace vantorel
