#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/TransferSets.h"

namespace vantorel {
namespace {

TEST(TransferSets, EachSetCountsLikeAMultiset) {
  TransferSets sets;
  auto transfers = sets.Get(TransferSets::kTransfers);
  auto total = sets.Get(TransferSets::kTotalTransfers);
  transfers.Add("/a");
  transfers.Add("/a");
  total.Add("/a");
  transfers.Add("/b");
  EXPECT_EQ(transfers.Size(), 2);  // distinct paths
  transfers.Remove("/a");
  EXPECT_TRUE(transfers.Contains("/a"));  // one of its two counts left
  transfers.Remove("/a");
  EXPECT_FALSE(transfers.Contains("/a"));
  EXPECT_TRUE(total.Contains("/a"));  // the other set is untouched
  transfers.Remove("/never");
  total.Clear();
  EXPECT_TRUE(total.Empty());
  EXPECT_EQ(transfers.Paths(), std::vector<std::string>{"/b"});
}

TEST(TransferSets, AFewPathsAreTakenWithoutCopyingTheRest) {
  TransferSets sets;
  auto transfers = sets.Get(TransferSets::kTransfers);
  auto completed = sets.Get(TransferSets::kCompletedTransfers);
  for (int i = 0; i < 50; ++i) completed.Add("/done" + std::to_string(i));
  for (int i = 0; i < 30; ++i) transfers.Add("/f" + std::to_string(i));
  const auto few = transfers.Paths(10);
  EXPECT_EQ(few.size(), 10u);
  EXPECT_EQ(std::set<std::string>(few.begin(), few.end()).size(), 10u);
  for (const auto& path : few) EXPECT_TRUE(transfers.Contains(path)) << path;  // none from another set
  EXPECT_EQ(transfers.Paths(100).size(), 30u);
  EXPECT_EQ(transfers.Paths(0).size(), 30u);
}

TEST(TransferSets, ADownloadInProgressLeavesWithItsTransfer) {
  TransferSets sets;
  auto transfers = sets.Get(TransferSets::kTransfers);
  auto downloads = sets.Get(TransferSets::kDownloadsInProgress);
  for (const char* path : {"/up", "/down1", "/down2"}) transfers.Add(path);
  downloads.Add("/down1");
  downloads.Add("/down2");
  transfers.Remove("/down1");
  EXPECT_EQ(downloads.Size(), 1);
  EXPECT_FALSE(downloads.Contains("/down1"));
  transfers.Clear();
  EXPECT_TRUE(downloads.Empty());
  EXPECT_TRUE(sets.Get(TransferSets::kTotalTransfers).Empty());
}

TEST(TransferSets, SlicesCycleThroughEveryTransfer) {
  TransferSets sets;
  auto transfers = sets.Get(TransferSets::kTransfers);
  for (int i = 0; i < 60; ++i) transfers.Add("/f" + std::to_string(i));
  std::set<std::string> seen;
  std::vector<std::size_t> sizes;
  for (int pass = 0; pass < 3; ++pass) {
    const auto slice = sets.ChooseSlice(25);
    sizes.push_back(slice.size());
    seen.insert(slice.begin(), slice.end());
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{25, 25, 10}));
  EXPECT_EQ(seen.size(), 60u);  // each exactly once in the cycle
  EXPECT_EQ(sets.ChooseSlice(25).size(), 25u);  // then a new cycle
  EXPECT_EQ(sets.ChooseSlice(0).size(), 35u);   // no limit: the rest of it
  transfers.Clear();
  EXPECT_TRUE(sets.ChooseSlice(25).empty());
}

}  // namespace
}  // namespace vantorel
