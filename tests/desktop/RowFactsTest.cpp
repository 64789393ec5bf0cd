#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "desktop/popover/RowFacts.h"
#include "support/TempDir.h"
#include "units/text/DateUtilities.h"

namespace vantorel {
namespace {

using test::TempDir;

std::string QuickLower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(RowFacts, AFileThatHasGoneShowsItsBareNameAndNoSecondLine) {
  TempDir dir;
  const std::string path = dir.Write("report.final.pdf", std::string(1500, 'x'));
  RowFacts facts = TransferRowFacts(path);
  EXPECT_TRUE(facts.exists);
  EXPECT_EQ(facts.name, "report.final.pdf");
  EXPECT_EQ(facts.secondary, "1.5 kB");
  ::unlink(path.c_str());
  for (const RowFacts& gone : {TransferRowFacts(path), RecentRowFacts(path)}) {
    EXPECT_FALSE(gone.exists);
    EXPECT_EQ(gone.name, "report.final.pdf");
    EXPECT_EQ(gone.secondary, "");
  }
}

// Sixty thousand rows called file0.dat are told apart by their folder.
TEST(RowFacts, TheSecondLineNamesTheFolderBelowTheWatchedOneAndThePercentage) {
  TempDir dir;
  const char* home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  ::setenv("HOME", dir.path().c_str(), 1);
  const std::string watched = dir.MakeFolder("Cloud");
  const std::string top = dir.Write("Cloud/file0.dat", std::string(1500, 'x'));
  const std::string deep = dir.Write("Cloud/Photos/2024/file0.dat", std::string(1500, 'x'));
  const std::string elsewhere = dir.Write("Other/file0.dat", std::string(1500, 'x'));
  EXPECT_EQ(FolderOfRow(top, watched), "");
  EXPECT_EQ(FolderOfRow(deep, watched), "Photos/2024");
  EXPECT_EQ(FolderOfRow(deep, watched + "/"), "Photos/2024");
  EXPECT_EQ(FolderOfRow(elsewhere, watched), "~/Other");
  EXPECT_EQ(FolderOfRow(dir / "Cloudy/a", watched), "~/Cloudy") << "a sibling whose name starts the same";
  EXPECT_EQ(FolderOfRow(deep, ""), "");

  EXPECT_EQ(TransferRowFacts(top, {watched, std::nullopt}).secondary, "1.5 kB");
  EXPECT_EQ(TransferRowFacts(deep, {watched, 42.7}).secondary, "1.5 kB \u00b7 42% \u00b7 in Photos/2024");
  EXPECT_EQ(DownloadRowFacts(dir / "Cloud/Photos/.film.mp4.icloud", dir / "Cloud/Photos/film.mp4", {watched, 7.0})
                .secondary,
            "Downloading... \u00b7 7% \u00b7 in Photos");
  const std::string recent = RecentRowFacts(deep, {watched, 50.0}).secondary;
  EXPECT_NE(recent.find(" \u00b7 in Photos/2024"), std::string::npos) << recent;
  EXPECT_EQ(recent.find('%'), std::string::npos) << "a finished transfer has no percentage";
  ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(RowFacts, APackageCountsItsWholeTreeAndAFolderOrLinkOnlyItself) {
  TempDir dir;
  dir.Write("Slides.key/Data/a.bin", std::string(4000, 'a'));
  dir.Write("Slides.key/Index.zip", std::string(1000, 'b'));
  EXPECT_EQ(ItemSize(dir / "Slides.key"), 5000u);
  // A plain folder is not measured through (its own entry only), and a
  // link to a file is the link, not the file.
  const std::string big = dir.Write("Plain/big.bin", std::string(100000, 'c'));
  EXPECT_LT(*ItemSize(dir / "Plain"), 100000u);
  ASSERT_EQ(::symlink(big.c_str(), (dir / "link.bin").c_str()), 0);
  EXPECT_LT(*ItemSize(dir / "link.bin"), 1000u);
  EXPECT_EQ(ItemSize(dir / "none"), std::nullopt);
  // A history entry that is a folder still shows a date.
  EXPECT_FALSE(RecentRowFacts(dir / "Plain").secondary.empty());
}

TEST(RowFacts, TheDateAddedComesFromADateOrFromItsTextFormOnly) {
  ::setenv("TZ", "UTC", 1);
  const auto parsed = parseDateStamp("2026-03-01 10:42:00 +0100", true);
  ASSERT_TRUE(parsed);
  EXPECT_DOUBLE_EQ(UnixTimeFromAbsolute(*parsed), 1772358120.0);  // 09:42 UTC
  EXPECT_EQ(DateAddedLine(PlistValue("2026-03-01 10:42:00 +0100")), shortDateString(*parsed, true));
  EXPECT_EQ(DateAddedLine(PlistValue(PlistValue::Date{*parsed})), shortDateString(*parsed, true));
  // Today reads as a word, not as a date.
  const AbsoluteTime now = CurrentAbsoluteTime();
  EXPECT_EQ(QuickLower(DateAddedLine(PlistValue(PlistValue::Date{now}))).rfind("today", 0), 0u)
      << DateAddedLine(PlistValue(PlistValue::Date{now}));
  for (const char* bad : {"2026-03-01 10:42:00", "2026-02-30 10:42:00 +0000", "2026-03-01 10:42:00 +0100x",
                          "yesterday", "2026-13-01 10:42:00 +0000", ""})
    EXPECT_EQ(parseDateStamp(bad, true), std::nullopt) << bad;
  EXPECT_EQ(DateAddedLine(PlistValue(42)), "");
  EXPECT_EQ(DateAddedLine(PlistValue("not a date")), "");
  ::unsetenv("TZ");
}

TEST(RowFacts, ASpokenRowSaysNameLineAndStateOnceWithCommas) {
  EXPECT_EQ(SpokenRow("report.pdf", "1.5 kB \u00b7 42% \u00b7 in Photos", "uploading"),
            "report.pdf, 1.5 kB, 42%, in Photos, uploading");
  // "Downloading..." on the second line is the state: said once, no dots.
  EXPECT_EQ(SpokenRow("film.mkv", "Downloading... \u00b7 7%", "downloading"), "film.mkv, Downloading, 7%");
  EXPECT_EQ(SpokenRow("gone.txt", "", "gone"), "gone.txt, gone");
  EXPECT_EQ(SpokenRow("", "", ""), "");
}

}  // namespace
}  // namespace vantorel
