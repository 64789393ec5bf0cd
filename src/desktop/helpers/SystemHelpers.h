#pragma once
// The application's small system services, in their Linux form: the login
// item (an XDG autostart entry), the alert sounds, the interface style a
// user stored, and running a program for its output. Toolkit-free.

#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class TUserDefaults;

// $XDG_CONFIG_HOME/autostart/vantorel.desktop
std::string AutostartEntryPath();

// Makes the application start, or stop starting, at login. `open`: writes
// the entry atomically with `executable` (absolute) as its program, saying
// so in one line when there was none; an executable inside a build folder
// is never written (said once). Else removes the entry, but only when it
// names this program (an entry of the same name that starts something else
// is left alone). False, with one line, when the entry cannot be written or
// removed, or the executable is not installed.
bool openAtLogin(bool open, const std::string& executable);

// The nearest folder above `executable` that holds a CMake build
// (CMakeCache.txt): where a program is built, not installed.
std::optional<std::string> BuildFolderOf(const std::string& executable);

// The text of the autostart entry for `executable`.
std::string AutostartEntryText(const std::string& executable);
// The program an entry's Exec line starts, unquoted; nothing without one.
std::optional<std::string> AutostartEntryProgram(const std::string& entryText);

// Whether a sound can be heard here at all: a sound server's socket
// (PULSE_SERVER, or PulseAudio's or PipeWire's in XDG_RUNTIME_DIR) or a
// playback device in `deviceFolder`. Without one, the sound library's
// attempt only prints its audio layer's errors on the terminal.
bool SoundOutputMayExist(const std::string& deviceFolder = "/dev/snd");

// The full paths of the alert sounds: every entry of the system's sound
// folder, then every entry of the user's, each in listing order.
std::vector<std::string> systemSounds();
inline constexpr const char* kSystemSoundsFolder = "/usr/share/sounds/freedesktop/stereo";
// $XDG_DATA_HOME/sounds
std::string UserSoundsFolder();
// The full path of the system sound called `name` (its file name without
// extension); nothing when there is none.
std::optional<std::string> SoundPathForName(const std::string& name);

// "AppleInterfaceStyle" as a user stored it: true for "dark" in any letter
// case, false for anything else; nothing when the key is absent (the
// desktop's own scheme then decides).
std::optional<bool> StoredInterfaceStyleIsDark(const TUserDefaults& prefs);

// Runs `argv` (looked up on PATH, no shell: nothing in an argument is ever
// interpreted), reads its standard output to the end, waits for it, and
// returns the output as UTF-8 (invalid bytes become U+FFFD). Standard error
// is not captured; the exit status is not looked at. Empty when the program
// cannot be started. Blocks: call it off the main thread.
std::string execute(const std::vector<std::string>& argv);

// The folder's disk usage as `du -sh` prints it ("1.2G"), run with the
// whole path as one argument (never through a shell, never cut); nothing
// when du cannot tell. Blocks: call it off the main thread.
std::optional<std::string> MeasureDiskUsage(const std::string& folder);

}  // namespace vantorel
