#include "desktop/popover/TransferOrder.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "units/fs/PathUtilities.h"

namespace vantorel {

namespace {
icu::UnicodeString NameOf(std::string_view path) {
  const std::string name = lastPathComponentWithoutExtension(path);
  return icu::UnicodeString::fromUTF8(name);
}
}  // namespace

int SortPathsByName(std::string_view a, std::string_view b) {
  return NameOf(a).caseCompare(NameOf(b), U_FOLD_CASE_DEFAULT);
}

void SortTransfersByName(std::vector<std::string>& paths) {
  // Each name folded once, not at every comparison: thousands of transfers.
  std::vector<std::pair<icu::UnicodeString, std::string>> keyed;
  keyed.reserve(paths.size());
  for (std::string& path : paths) keyed.emplace_back(NameOf(path).foldCase(), std::move(path));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (std::size_t i = 0; i < keyed.size(); ++i) paths[i] = std::move(keyed[i].second);
}

}  // namespace vantorel
