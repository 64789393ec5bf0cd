// The attribute item-state source against the attributes themselves, and
// against the simulated agent's own reading of the same protocol: the two
// sides share only the names and the value encoding.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "cloudsim/AgentRules.h"
#include "sources/attributes/AttributeItemSource.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/fs/SyncAttributes.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;

void Mark(const std::string& path, const char* attribute, const std::string& value = "1") {
  ASSERT_EQ(::setxattr(path.c_str(), attribute, value.data(), value.size(), 0), 0) << path << " " << attribute;
}

TEST(AttributeItemSource, PlaceholdersAreNamedNotLookedUp) {
  const auto source = MakeAttributeItemSource();
  EXPECT_TRUE(source->IsDownloadFile("/nowhere/.report.pdf.icloud"));
  EXPECT_FALSE(source->IsDownloadFile("/nowhere/.report.pdf.ICLOUD"));
  EXPECT_EQ(source->PlaceholderPathOf("/F/report.pdf"), "/F/.report.pdf.icloud");
  EXPECT_EQ(source->PlaceholderPathOf("report.pdf"), ".report.pdf.icloud");
  EXPECT_EQ(source->ItemOfDownloadFile("/F/.report.pdf.icloud"), "/F/report.pdf");
  EXPECT_EQ(source->ItemOfDownloadFile("/F/report.pdf.icloud"), std::nullopt);  // not hidden: no placeholder
  EXPECT_EQ(source->ItemOfDownloadFile("/F/..icloud"), std::nullopt);
  EXPECT_EQ(source->DirectionOf("/F/report.pdf"), TransferDirection::Unknown);  // attributes cannot tell
}

TEST(AttributeItemSource, StateIsReadFreshAtEveryQuestion) {
  TempDir dir;
  const auto source = MakeAttributeItemSource();
  const std::string store = dir.MakeFolder("store");
  const std::string file = dir.Write("store/deep/doc.txt", "content");
  const std::string outside = dir.Write("outside.txt", "content");
  EXPECT_FALSE(source->IsInStore(file));
  Mark(store, kUbiquityItemAttribute);
  EXPECT_TRUE(source->IsInStore(file));  // marked through a folder above
  EXPECT_TRUE(source->IsInStore(store));
  EXPECT_FALSE(source->IsInStore(outside));
  EXPECT_FALSE(source->IsInStore(dir / "store/missing"));

  EXPECT_FALSE(source->IsUploaded(file));
  EXPECT_FALSE(source->IsUploading(file));
  Mark(file, kUbiquityUploadingAttribute);
  EXPECT_TRUE(source->IsUploading(file));
  Mark(file, kUbiquityUploadingAttribute, "0");
  Mark(file, kUbiquityUploadedAttribute, "YES");
  EXPECT_FALSE(source->IsUploading(file));
  EXPECT_TRUE(source->IsUploaded(file));
  ASSERT_EQ(::removexattr(file.c_str(), kUbiquityUploadedAttribute), 0);
  EXPECT_FALSE(source->IsUploaded(file));
  EXPECT_FALSE(source->IsUploaded(dir / "missing"));
}

TEST(AttributeItemSource, APercentageIsToldOnlyForATransferUnderWay) {
  TempDir dir;
  const auto source = MakeAttributeItemSource();
  const std::string file = dir.Write("doc.txt", "content");
  Mark(file, kUbiquityPercentUploadedAttribute, "42");
  EXPECT_EQ(source->PercentDone(file), std::nullopt) << "an upload that is not running";
  Mark(file, kUbiquityUploadingAttribute);
  EXPECT_EQ(source->PercentDone(file), 42.0);
  for (const char* bad : {"", "lots", "-3", "250", "nan"}) {
    Mark(file, kUbiquityPercentUploadedAttribute, bad);
    EXPECT_EQ(source->PercentDone(file), std::nullopt) << bad;
  }
  const std::string placeholder = dir.Write(".film.mp4.icloud", "");
  Mark(placeholder, kUbiquityPercentDownloadedAttribute, "7.5");
  EXPECT_EQ(source->PercentDone(placeholder), 7.5);
  Mark(placeholder, kUbiquityDownloadedAttribute);
  EXPECT_EQ(source->PercentDone(placeholder), std::nullopt);
  EXPECT_EQ(source->PercentDone(dir / "missing"), std::nullopt);
}

TEST(AttributeItemSource, TheDescriptionListsTheFactsThatHold) {
  TempDir dir;
  const std::string file = dir.Write("report.pdf", "x");
  Mark(file, kUbiquityItemAttribute);
  Mark(file, "user.ubiquity.downloading-status", "current");  // a word that reads as false
  Mark(file, "user.ubiquity.uploading");
  Mark(file, "user.ubiquity.percent-uploaded", "42.5");
  Mark(file, "user.ubiquity.percent-downloaded", "0");
  CaptureDiagnostics diagnostics;
  MakeAttributeItemSource()->DescribeItem(file);
  EXPECT_EQ(diagnostics.Text(),
            "icloud status: report.pdf\n"
            "    - on icloud\n"
            "    - uploading...\n"
            "    - uploading 42.5% (NSMetadataUbiquitousItemPercentUploadedKey)\n"
            "    - uploading 42.5% (NSURLUbiquitousItemPercentUploadedKey)\n");
}

TEST(AttributeItemSource, TheAgentAndTheSourceAgreeOnTheProtocol) {
  TempDir dir;
  const auto source = MakeAttributeItemSource();
  // Values either side may meet: what one writes, the other reads alike.
  const std::pair<const char*, bool> values[] = {{"1", true},   {"YES", true}, {"true", true}, {" +007", true},
                                                 {"0", false},  {"no", false}, {"", false},    {"000", false},
                                                 {"-0", false}, {"x1", false}};
  const std::string file = dir.Write("doc.txt", "x");
  for (const auto& [value, reads] : values) {
    Mark(file, kUbiquityUploadedAttribute, value);
    EXPECT_EQ(agent::IsMarked(file, kUbiquityUploadedAttribute), reads) << value;
    EXPECT_EQ(source->IsUploaded(file), reads) << value;
  }
  // The agent's placeholders are the ones the source recognises, both ways.
  for (const std::string item : {"/F/report.pdf", "/F/G/.hidden", "/F/a b.txt", "top.txt"}) {
    const std::string placeholder = agent::PlaceholderOf(item);
    EXPECT_EQ(placeholder, source->PlaceholderPathOf(item));
    EXPECT_TRUE(source->IsDownloadFile(placeholder)) << placeholder;
    EXPECT_EQ(source->ItemOfDownloadFile(placeholder), item);
  }
  // Packages: a folder with a package extension, in any letter case.
  dir.MakeFolder("Doc.Pages");
  dir.MakeFolder("plain");
  dir.Write("fake.app", "x");
  EXPECT_TRUE(agent::IsPackageFolder(dir / "Doc.Pages"));
  EXPECT_FALSE(agent::IsPackageFolder(dir / "plain"));
  EXPECT_FALSE(agent::IsPackageFolder(dir / "fake.app"));  // a file, not a folder
  EXPECT_EQ(agent::Describe(file), "doc.txt:\n    uploaded = x1");
}

}  // namespace
}  // namespace vantorel
