#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "engine/TrackPathUtilities.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;

void Mark(const std::string& path, const char* attribute, const std::string& value = "1") {
  ASSERT_EQ(::setxattr(path.c_str(), attribute, value.data(), value.size(), 0), 0) << path << " " << attribute;
}

TEST(ItemState, DownloadReferencesAreNamedNotLookedUp) {
  EXPECT_TRUE(isDownloadReference("/nowhere/.report.pdf.icloud"));
  EXPECT_FALSE(isDownloadReference("/nowhere/.report.pdf.ICLOUD"));
  EXPECT_EQ(placeholderPathForItem("/F/report.pdf"), "/F/.report.pdf.icloud");
  EXPECT_EQ(placeholderPathForItem("report.pdf"), ".report.pdf.icloud");
}

TEST(ItemState, PackagedMeansSomeFolderAboveIsAPackage) {
  TempDir dir;
  const std::string inApp = dir.Write("Tool.app/Contents/MacOS/tool", "x");
  const std::string app = dir / "Tool.app";
  EXPECT_TRUE(isFilePackaged(inApp));
  EXPECT_FALSE(isFilePackaged(app));  // the item itself is not tested
  const std::string nested = dir.Write("Outer.bundle/Inner.app/file", "x");
  EXPECT_TRUE(isFilePackaged(dir / "Outer.bundle/Inner.app"));
  EXPECT_TRUE(isFilePackaged(nested));
  // A plain file named like a package does not make its neighbours packaged.
  dir.Write("fake.app", "x");
  EXPECT_FALSE(isFilePackaged(dir / "fake.app/child"));

  EXPECT_TRUE(isImplicitlyPackaged("/x/Kit.framework/Versions/A/Headers/k.h"));
  EXPECT_FALSE(isImplicitlyPackaged("/x/Thing.Bundle/file"));  // letter case matters here
  EXPECT_FALSE(isImplicitlyPackaged("/x/Kit.framework"));
  EXPECT_FALSE(isImplicitlyPackaged("relative"));
}

TEST(ItemState, SizeAndLinksOfTheItemItself) {
  TempDir dir;
  const std::string empty = dir.Write("empty", "");
  const std::string full = dir.Write("full", "abc");
  const std::string link = dir / "link";
  ASSERT_EQ(::symlink(full.c_str(), link.c_str()), 0);
  EXPECT_FALSE(doesFileContainBytes(empty));
  EXPECT_TRUE(doesFileContainBytes(full));
  EXPECT_FALSE(doesFileContainBytes(dir / "missing"));
  EXPECT_TRUE(isSymbolicLink(link));
  EXPECT_FALSE(isSymbolicLink(full));
  EXPECT_FALSE(isSymbolicLink(dir / "missing"));
}

TEST(ItemState, SyncAttributesAreReadFreshAtEveryCall) {
  TempDir dir;
  const std::string store = dir.MakeFolder("store");
  const std::string file = dir.Write("store/deep/doc.txt", "content");
  const std::string outside = dir.Write("outside.txt", "content");
  EXPECT_FALSE(isTracked(file));
  Mark(store, kUbiquityItemAttribute);
  EXPECT_TRUE(isTracked(file));  // marked through a folder above
  EXPECT_TRUE(isTracked(store));
  EXPECT_FALSE(isTracked(outside));
  EXPECT_FALSE(isTracked(dir / "store/missing"));

  EXPECT_FALSE(isUploaded(file));
  EXPECT_FALSE(isUploading(file));
  Mark(file, kUbiquityUploadingAttribute);
  EXPECT_TRUE(isUploading(file));
  Mark(file, kUbiquityUploadingAttribute, "0");
  Mark(file, kUbiquityUploadedAttribute, "YES");
  EXPECT_FALSE(isUploading(file));
  EXPECT_TRUE(isUploaded(file));
  ASSERT_EQ(::removexattr(file.c_str(), kUbiquityUploadedAttribute), 0);
  EXPECT_FALSE(isUploaded(file));
  EXPECT_FALSE(isUploaded(dir / "missing"));
}

TEST(ItemState, StatusReportListsTheFactsThatHold) {
  TempDir dir;
  const std::string file = dir.Write("report.pdf", "x");
  Mark(file, kUbiquityItemAttribute);
  Mark(file, "user.ubiquity.downloading-status", "current");  // a word that reads as false
  Mark(file, "user.ubiquity.uploading");
  Mark(file, "user.ubiquity.percent-uploaded", "42.5");
  Mark(file, "user.ubiquity.percent-downloaded", "0");
  CaptureDiagnostics diagnostics;
  ubiquityStatus(file);
  EXPECT_EQ(diagnostics.Text(),
            "icloud status: report.pdf\n"
            "    - on icloud\n"
            "    - uploading...\n"
            "    - uploading 42.5% (NSMetadataUbiquitousItemPercentUploadedKey)\n"
            "    - uploading 42.5% (NSURLUbiquitousItemPercentUploadedKey)\n");
}

}  // namespace
}  // namespace vantorel
