#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cmd/DefaultsTool.h"
#include "support/TempDir.h"
#include "units/fs/AtomicFile.h"
#include "units/prefs/PropertyListIO.h"

namespace vantorel {
namespace {

using test::TempDir;

class DefaultsToolTest : public ::testing::Test {
protected:
  struct Result {
    int code;
    std::string out;
    std::string err;
  };
  Result Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = RunDefaultsTool(args, file, out, err);
    return {code, out.str(), err.str()};
  }
  TempDir dir;
  std::string file = dir / "vantorel/com.quellmark.vantorel.plist";
};

TEST_F(DefaultsToolTest, WritesAndReadsEveryType) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"write", "S", "plain text"}, "plain text\n"},
      {{"write", "S2", "-string", "-int"}, "-int\n"},
      {{"write", "B", "-bool", "YES"}, "1\n"},
      {{"write", "B2", "-bool", "no"}, "0\n"},
      {{"write", "I", "-int", "-25"}, "-25\n"},
      {{"write", "F", "-float", "15"}, "15\n"},
      {{"write", "F2", "-float", "0.25"}, "0.25\n"},
      {{"write", "D", "-date", "2026-12-08 03:14:32 +0100"}, "2026-12-08 02:14:32 +0000\n"},
      {{"write", "A", "-array", "one", "two words"}, "(\n    one,\n    \"two words\"\n)\n"},
      {{"write", "E", "-array"}, "(\n)\n"},
      {{"write", "M", "-dict", "k", "v", "a b", "c"}, "{\n    \"a b\" = c;\n    k = v;\n}\n"},
      {{"write", "X", "-data", "00ff"}, "<00ff>\n"},
  };
  for (const auto& [command, expected] : cases) {
    ASSERT_EQ(Run(command).code, 0) << command[1];
    const Result read = Run({"read", command[1]});
    EXPECT_EQ(read.code, 0);
    EXPECT_EQ(read.out, expected) << command[1];
  }
  const Result all = Run({"read"});
  EXPECT_EQ(all.code, 0);
  EXPECT_NE(all.out.find("    I = -25;\n"), std::string::npos) << all.out;
  EXPECT_NE(all.out.find("    D = \"2026-12-08 02:14:32 +0000\";\n"), std::string::npos) << all.out;
}

TEST_F(DefaultsToolTest, MissingKeysSayWhichAndFail) {
  Run({"write", "present", "1"});
  Result r = Run({"read", "absent"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("\"absent\""), std::string::npos);
  r = Run({"delete", "absent"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Run({"delete", "present"}).code, 0);
  EXPECT_EQ(Run({"read", "present"}).code, 1);
}

TEST_F(DefaultsToolTest, BadInputChangesNothingStored) {
  ASSERT_EQ(Run({"write", "Keep", "-int", "7"}).code, 0);
  const auto before = ReadWholeFile(file);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"write", "Keep", "-int", "7.5"}, {"write", "Keep", "-bool", "perhaps"},
        {"write", "Keep", "-float", "nan"}, {"write", "Keep", "-date", "2026-02-30 00:00:00 +0000"},
        {"write", "Keep", "-date", "yesterday"}, {"write", "Keep", "-dict", "lonely"},
        {"write", "Keep", "-data", "abc"}, {"write", "Keep", "-colour", "red"}, {"write", "Keep"},
        {"read", "a", "b"}, {"frobnicate"}, {}}) {
    const Result r = Run(bad);
    EXPECT_EQ(r.code, 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_FALSE(r.err.empty());
    EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;  // the problem, and where to look
  }
  EXPECT_EQ(ReadWholeFile(file), before);
}

TEST_F(DefaultsToolTest, HelpAndTheOptionalDomainName) {
  const Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("write KEY -bool YES|NO"), std::string::npos);
  ASSERT_EQ(Run({"write", "com.quellmark.vantorel", "K", "v"}).code, 0);
  EXPECT_EQ(Run({"read", "com.quellmark.vantorel", "K"}).out, "v\n");
}

TEST_F(DefaultsToolTest, ReadingAnEmptyDomainSaysSo) {
  const Result r = Run({"read"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find(file), std::string::npos);
}

TEST_F(DefaultsToolTest, AnyPropertyListFileIsReadByItsPathAndLeftAlone) {
  const std::string history = dir / "recent_transfers.plist";
  ASSERT_TRUE(WritePropertyListFile(history, PlistValue(PlistValue::Array{PlistValue("/a b"), PlistValue("/c")})));
  EXPECT_EQ(Run({"read", history}).out, "(\n    \"/a b\",\n    /c\n)\n");
  const std::string help = dir / "help.plist";
  ASSERT_TRUE(WritePropertyListFile(help, PlistValue(PlistValue::Dictionary{{"title", PlistValue("Read me")}})));
  EXPECT_EQ(Run({"read", help, "title"}).out, "Read me\n");
  Result r = Run({"read", help, "other"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no key \"other\""), std::string::npos);
  EXPECT_EQ(Run({"read", history, "title"}).code, 1);  // a list has no keys
  // A damaged file is reported in one line and stays as it is.
  ASSERT_TRUE(WriteFileAtomically(history, "<plist><array><string>cut"));
  r = Run({"read", history});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(history + ".corrupt"));
  EXPECT_EQ(Run({"read", dir / "none.plist"}).code, 1);
}

}  // namespace
}  // namespace vantorel
