#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "desktop/helpers/SystemHelpers.h"
#include "units/fs/PathUtilities.h"
#include "support/CaptureDiagnostics.h"
#include "support/TempDir.h"
#include "units/prefs/UserDefaults.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;
using test::TempDir;
namespace fs = std::filesystem;

class Helpers : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      const char* value = std::getenv(name);
      saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : saved) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }
  TempDir dir;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(Helpers, TheAutostartEntryComesAndGoesAndLeavesOthersAlone) {
  const std::string odd = "/opt/My Apps/v\"a$n%t`o\\r/vantorel";
  ASSERT_TRUE(openAtLogin(true, odd));
  const std::string entry = AutostartEntryPath();
  EXPECT_EQ(entry, dir / "config/autostart/vantorel.desktop");
  std::ifstream in(entry);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(AutostartEntryProgram(text), odd);  // quoted and escaped, and back
  EXPECT_NE(text.find("X-GNOME-Autostart-Delay="), std::string::npos);
  if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry + "'").c_str()), 0);
  }

  ASSERT_TRUE(openAtLogin(false, odd));
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_TRUE(openAtLogin(false, odd));  // not there: nothing to do

  // An entry of the same name that starts another program stays.
  { std::ofstream(entry) << "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other --flag\n"; }
  EXPECT_TRUE(openAtLogin(false, odd));
  EXPECT_TRUE(fs::exists(entry));
}

// A login item for a program in a build folder would start whatever was
// last built there, or nothing once the folder is gone.
TEST_F(Helpers, OnlyAnInstalledExecutableOpensAtLoginAndTheFirstEntryIsSaid) {
  const std::string built = dir.MakeFolder("build/normal/bin") + "/vantorel";
  dir.Write("build/normal/CMakeCache.txt", "");
  EXPECT_EQ(BuildFolderOf(built), dir / "build/normal");
  EXPECT_EQ(BuildFolderOf("/usr/bin/vantorel"), std::nullopt);
  {
    CaptureDiagnostics diagnostics;
    EXPECT_FALSE(openAtLogin(true, built));
    EXPECT_FALSE(openAtLogin(true, built));
    EXPECT_FALSE(fs::exists(AutostartEntryPath()));
    EXPECT_EQ(diagnostics.Text(), "Not opening Vantorel at login: " + built + " is in the build folder " +
                                      (dir / "build/normal") + "; only an installed vantorel is opened at login.\n");
  }
  CaptureDiagnostics diagnostics;
  ASSERT_TRUE(openAtLogin(true, "/usr/bin/vantorel"));
  ASSERT_TRUE(openAtLogin(true, "/usr/bin/vantorel"));  // the next launches rewrite it quietly
  EXPECT_EQ(diagnostics.Text(), "Vantorel will open when you log in (" + AutostartEntryPath() +
                                    "); untick \"Open Vantorel when you log in\" in Preferences to stop it.\n");
}

TEST_F(Helpers, AnAutostartFolderThatCannotBeWrittenIsSaidOnce) {
  fs::create_directories(dir / "config");
  { std::ofstream(dir / "config/autostart") << "a file where the folder should be"; }
  CaptureDiagnostics diagnostics;
  EXPECT_FALSE(openAtLogin(true, "/usr/bin/vantorel"));
  EXPECT_NE(diagnostics.Text().find("Cannot start Vantorel at login"), std::string::npos);
}

TEST_F(Helpers, ASoundIsTriedOnlyWhereItCanBeHeard) {
  const char* pulse = std::getenv("PULSE_SERVER");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> savedPulse = pulse ? std::optional<std::string>(pulse) : std::nullopt;
  const std::optional<std::string> savedRuntime = runtime ? std::optional<std::string>(runtime) : std::nullopt;
  ::unsetenv("PULSE_SERVER");
  ::setenv("XDG_RUNTIME_DIR", dir.MakeFolder("run").c_str(), 1);
  const std::string devices = dir.MakeFolder("snd");
  dir.Write("snd/controlC0", "");
  dir.Write("snd/pcmC0D0c", "");  // a capture device plays nothing
  EXPECT_FALSE(SoundOutputMayExist(devices));
  EXPECT_FALSE(SoundOutputMayExist(dir / "none"));
  dir.Write("snd/pcmC0D0p", "");
  EXPECT_TRUE(SoundOutputMayExist(devices));
  // A sound server's socket is enough; a plain file of its name is not.
  dir.Write("run/pulse/native", "");
  EXPECT_FALSE(SoundOutputMayExist(dir / "none"));
  const std::string socketPath = dir / "run/pipewire-0";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_TRUE(SoundOutputMayExist(dir / "none"));
  ::close(fd);
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("PULSE_SERVER", "tcp:localhost", 1);
  EXPECT_TRUE(SoundOutputMayExist(dir / "none"));
  if (savedPulse) ::setenv("PULSE_SERVER", savedPulse->c_str(), 1);
  else ::unsetenv("PULSE_SERVER");
  if (savedRuntime) ::setenv("XDG_RUNTIME_DIR", savedRuntime->c_str(), 1);
  else ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(Helpers, SoundsListTheSystemAndTheUsersFoldersSortedByName) {
  const auto withoutUser = systemSounds();
  for (const auto& path : withoutUser) EXPECT_EQ(path.rfind(kSystemSoundsFolder, 0), 0u) << path;
  dir.Write("data/sounds/.hidden.oga", "x");
  dir.Write("data/sounds/Chime.oga", "x");
  const auto sounds = systemSounds();
  ASSERT_EQ(sounds.size(), withoutUser.size() + 2);
  EXPECT_TRUE(std::is_sorted(sounds.begin(), sounds.end(), [](const std::string& a, const std::string& b) {
    return lastPathComponentWithoutExtension(a) < lastPathComponentWithoutExtension(b);
  }));
  EXPECT_EQ(SoundPathForName("Chime"), dir / "data/sounds/Chime.oga");
  EXPECT_EQ(SoundPathForName("no such sound"), std::nullopt);
}

TEST_F(Helpers, AStoredInterfaceStyleIsDarkOnlyWhenItSaysSo) {
  TUserDefaults prefs(dir / "prefs.plist");
  EXPECT_EQ(StoredInterfaceStyleIsDark(prefs), std::nullopt);
  prefs.SetString("AppleInterfaceStyle", "Dark");
  EXPECT_EQ(StoredInterfaceStyleIsDark(prefs), true);
  prefs.SetString("AppleInterfaceStyle", "DARK");
  EXPECT_EQ(StoredInterfaceStyleIsDark(prefs), true);
  prefs.SetString("AppleInterfaceStyle", "Light");
  EXPECT_EQ(StoredInterfaceStyleIsDark(prefs), false);
  prefs.SetInteger("AppleInterfaceStyle", 1);
  EXPECT_EQ(StoredInterfaceStyleIsDark(prefs), false);
}

TEST_F(Helpers, ExecuteRunsNoShellAndReturnsValidText) {
  // A folder name that a shell would run commands from is only text here.
  const std::string marker = dir / "ran";
  const std::string hostile = "a\"b $(touch " + marker + ") `touch " + marker + "`";
  EXPECT_EQ(execute({"printf", "%s", hostile}), hostile);
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(execute({"printf", "caf\\351 \\342\\202\\254"}), "caf\xEF\xBF\xBD \xE2\x82\xAC");
  EXPECT_EQ(execute({"no-such-program-here"}), "");
  EXPECT_EQ(execute({}), "");
  const std::string big(100000, 'x');  // more than a pipe holds at once
  EXPECT_EQ(execute({"printf", "%s", big}).size(), big.size());
}

TEST_F(Helpers, DiskUsageMeasuresTheWholePathAndRunsNothingFromIt) {
  // A folder name a shell would run commands from, in a long path.
  const std::string marker = dir / "ran";
  const std::string folder = dir.MakeFolder(std::string(200, 'd') + "/a\"b $(touch " + marker + ") `touch " + marker + "`");
  dir.Write(folder.substr(dir.path().size() + 1) + "/data.bin", std::string(100000, 'x'));
  const auto usage = MeasureDiskUsage(folder);
  ASSERT_TRUE(usage);
  EXPECT_NE(usage->find('K'), std::string::npos) << *usage;  // about 100K, as du prints it
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_EQ(MeasureDiskUsage(dir / "no such folder"), std::nullopt);
}

}  // namespace
}  // namespace vantorel
