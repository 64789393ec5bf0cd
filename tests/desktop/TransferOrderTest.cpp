#include <gtest/gtest.h>

#include "desktop/popover/TransferOrder.h"

namespace vantorel {
namespace {

TEST(TransferOrder, ByNameWithoutExtensionLetterCaseIgnored) {
  EXPECT_LT(SortPathsByName("/z/apple.txt", "/a/Banana.pdf"), 0);
  EXPECT_EQ(SortPathsByName("/a/Report.PDF", "/b/report.docx"), 0);  // only case, extension and folder differ
  EXPECT_GT(SortPathsByName("/a/Émile.txt", "/a/eve.txt"), 0);
  std::vector<std::string> paths{"/c/zeta.key", "/a/Alpha.txt", "/b/alpha.pdf", "/a/beta", "/d/ALPHA"};
  SortTransfersByName(paths);
  // Equal names keep the order they came in.
  EXPECT_EQ(paths, (std::vector<std::string>{"/a/Alpha.txt", "/b/alpha.pdf", "/d/ALPHA", "/a/beta", "/c/zeta.key"}));
}

}  // namespace
}  // namespace vantorel
