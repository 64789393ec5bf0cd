// What other programs or other users can put where this program reads and
// writes: FIFOs, devices, links, huge files, folders open to others. None of
// it may block, crash or be written through. Each test is bounded by an alarm,
// so a blocking open fails fast instead of hanging the suite.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/fs/AtomicFile.h"
#include "units/fs/FileObjectUtilities.h"
#include "units/fs/PrivateFolder.h"
#include "units/prefs/PropertyListIO.h"
#include "units/prefs/UserDefaults.h"
#include "units/runtime/InstanceLock.h"
#include "units/text/LineText.h"

namespace vantorel {
namespace {

namespace fs = std::filesystem;
using test::CaptureDiagnostics;
using test::TempDir;

class HostileFilesTest : public ::testing::Test {
protected:
  void SetUp() override { ::alarm(30); }
  void TearDown() override { ::alarm(0); }
  std::string Fifo(const std::string& name) {
    const std::string path = dir / name;
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }
  std::string Link(const std::string& name, const std::string& target) {
    const std::string path = dir / name;
    fs::create_symlink(target, path);
    return path;
  }
  TempDir dir;
};

TEST_F(HostileFilesTest, ReadsTakeOnlyRegularFilesUpToTheLimit) {
  int errorNumber = 0;
  std::string error;
  EXPECT_FALSE(ReadWholeFile(Fifo("fifo"), &error, &errorNumber));
  EXPECT_EQ(errorNumber, EINVAL);
  EXPECT_EQ(error, "it is a FIFO");
  EXPECT_FALSE(ReadWholeFile(Link("zero", "/dev/zero"), &error, &errorNumber));  // endless bytes
  EXPECT_EQ(errorNumber, EINVAL);
  EXPECT_FALSE(ReadWholeFile(dir.path(), &error, &errorNumber));
  EXPECT_FALSE(ReadWholeFile(dir / "missing", &error, &errorNumber));
  EXPECT_EQ(errorNumber, ENOENT);

  const std::string big = dir / "big";
  ASSERT_EQ(::truncate(dir.Write("big", "").c_str(), 2 << 20), 0);  // sparse: 2 MiB of nothing
  EXPECT_FALSE(ReadWholeFile(big, &error, &errorNumber, 1 << 20));
  EXPECT_EQ(errorNumber, EFBIG);
  EXPECT_EQ(error, "it is larger than 1 MiB");
  EXPECT_EQ(ReadWholeFile(big)->size(), 2u << 20);  // under the usual limit

  // A link to a regular file is read: it is the user's own doing.
  dir.Write("real.txt", "content");
  EXPECT_EQ(ReadWholeFile(Link("link.txt", dir / "real.txt")), "content");

  // Property lists (preferences, history, help list) follow the same rule.
  const PlistReadResult zero = ReadPropertyListFile(dir / "zero");
  EXPECT_EQ(zero.status, PlistReadResult::Status::Unreadable);
  EXPECT_EQ(ReadPropertyListFile(dir / "fifo").status, PlistReadResult::Status::Unreadable);
}

TEST_F(HostileFilesTest, APreferencesFileThatIsADeviceOrFifoIsOneLineAndLeftAlone) {
  for (const std::string& name : {std::string("zero.plist"), std::string("fifo.plist")}) {
    const std::string path = name == "zero.plist" ? Link(name, "/dev/zero") : Fifo(name);
    CaptureDiagnostics diagnostics;
    {
      TUserDefaults prefs(path);
      EXPECT_EQ(prefs.GetInteger("anything"), std::nullopt);
      EXPECT_FALSE(prefs.SetInteger("key", 1));  // never written over
      EXPECT_TRUE(prefs.FileProblem().has_value());
    }
    const std::string said = diagnostics.Text();
    EXPECT_NE(said.find("Cannot read preferences file " + path), std::string::npos) << said;
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(name == "zero.plist" ? S_ISLNK(st.st_mode) : S_ISFIFO(st.st_mode));
  }
}

TEST_F(HostileFilesTest, WritesNeverGoThroughLinksOrIntoOthersFolders) {
  const std::string target = dir.Write("bashrc", "mine\n");
  const std::string link = Link("history.plist", target);
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(link, "new", &error));
  EXPECT_EQ(error, link + " is a symbolic link; it is left as it is");
  EXPECT_FALSE(WriteFileAtomically(Fifo("fifo.plist"), "new", &error));
  EXPECT_EQ(ReadWholeFile(target), "mine\n");
  EXPECT_TRUE(fs::is_symlink(link));

  // Appends (the transfer log) and emptying it in place alike.
  EXPECT_EQ(OpenFileForAppend(link, &error), -1);
  EXPECT_EQ(error, link + " is a symbolic link; it is left as it is");
  EXPECT_FALSE(EmptyRegularFile(link, &error));
  EXPECT_EQ(ReadWholeFile(target), "mine\n");
  EXPECT_EQ(OpenFileForAppend(dir / "fifo.plist", &error), -1);  // no reader: refused, not waited for
  const int reader = ::open((dir / "fifo.plist").c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(OpenFileForAppend(dir / "fifo.plist", &error), -1);  // with one: still no regular file
  EXPECT_EQ(error, dir / "fifo.plist" + " is a FIFO; it is left as it is");
  ::close(reader);
  const int fd = OpenFileForAppend(dir / "log.txt", &error);
  ASSERT_GE(fd, 0) << error;
  EXPECT_EQ(::write(fd, "a\n", 2), 2);
  ::close(fd);
  EXPECT_TRUE(EmptyRegularFile(dir / "log.txt"));
  EXPECT_EQ(ReadWholeFile(dir / "log.txt"), "");

  // A folder that others can write to: they could swap our file for theirs.
  const std::string shared = dir.MakeFolder("shared");
  ::chmod(shared.c_str(), 0777);
  EXPECT_FALSE(WriteFileAtomically(shared + "/prefs.plist", "x", &error));
  EXPECT_EQ(error, shared + " can be written by other users (mode 0777); refusing to write there");
  EXPECT_EQ(OpenFileForAppend(shared + "/log.txt", &error), -1);
  EXPECT_FALSE(fs::exists(shared + "/prefs.plist"));
  EXPECT_FALSE(fs::exists(shared + "/log.txt"));
  ::chmod(shared.c_str(), 0755);
  EXPECT_TRUE(WriteFileAtomically(shared + "/prefs.plist", "x", &error)) << error;
}

TEST_F(HostileFilesTest, AHiddenListThatIsAFifoOrDeviceHidesNothingAndNeverBlocks) {
  const std::string folder = dir.MakeFolder("sub");
  const std::string file = dir.Write("sub/visible.txt", "x");
  ASSERT_EQ(::mkfifo((folder + "/.hidden").c_str(), 0600), 0);
  EXPECT_FALSE(isHidden(file));  // returns at once: nobody writes to the FIFO
  fs::remove(folder + "/.hidden");
  fs::create_symlink("/dev/zero", folder + "/.hidden");
  EXPECT_FALSE(isHidden(file));
  fs::remove(folder + "/.hidden");
  dir.Write("sub/.hidden", "other\nvisible.txt\n");
  EXPECT_TRUE(isHidden(file));  // a real list still counts
}

TEST_F(HostileFilesTest, TheLockAndSocketFolderMustBeTheUsersOwnNotALink) {
  const std::string elsewhere = dir.MakeFolder("elsewhere");
  ::chmod(elsewhere.c_str(), 0700);
  const std::string runtime = dir.MakeFolder("run");
  fs::create_symlink(elsewhere, runtime + "/vantorel");
  std::string error;
  EXPECT_FALSE(PreparePrivateFolder(runtime + "/vantorel", "the instance lock", &error));
  EXPECT_EQ(error, runtime + "/vantorel is a symbolic link, not a folder of this user's own; refusing to put the "
                             "instance lock there");
  pid_t holder = 0;
  error.clear();
  EXPECT_EQ(InstanceLock::Acquire(runtime + "/vantorel/instance.lock", &holder, &error), nullptr);
  EXPECT_NE(error.find("is a symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(elsewhere));  // nothing made through the link
}

TEST(LineText, ControlCharactersAndBrokenBytesAreMadeVisible) {
  EXPECT_EQ(EscapedForLine("plain name.txt"), "plain name.txt");
  EXPECT_EQ(EscapedForLine("évian 日本.txt"), "évian 日本.txt");
  EXPECT_EQ(EscapedForLine("evil\n[2026-01-01 00:00:00] forged.txt"), "evil\\n[2026-01-01 00:00:00] forged.txt");
  EXPECT_EQ(EscapedForLine(std::string("a\0b\x1b[31m\r\t\x7f", 11)), "a\\x00b\\x1b[31m\\r\\t\\x7f");
  EXPECT_EQ(EscapedForLine("back\\slash"), "back\\\\slash");
  EXPECT_EQ(EscapedForLine("bad\xff\xc3"), "bad\\xff\\xc3");
  EXPECT_EQ(EscapedForLine("nel\xc2\x85sep\xe2\x80\xa8"), "nel\\u0085sep\\u2028");
}

}  // namespace
}  // namespace vantorel
