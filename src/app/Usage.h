#pragma once
// `vantorel --help` and `--version`: printed by the launcher without
// starting a face.

#include <string>

#include "shell/BuildInfo.h"

namespace vantorel {

// The short version and the build, as a launch prints them first.
inline std::string VersionText() {
  return std::string("Short version: ") + kBundleShortVersion + "\nBundle version: " + kBundleVersion + "\n";
}

inline constexpr const char* kUsage =
    "Usage: vantorel [--headless] [--folder PATH] [--rescan] [--verbose]\n"
    "       vantorel [--headless] --demo\n"
    "       vantorel --version | --help\n"
    "       vantorel status [--json] [--follow] | wait-idle [--uploads] [--timeout SECONDS]\n"
    "       vantorel open | preferences | rescan [PATH] | pause | resume | quit\n"
    "Reports which files of a synchronised folder are being uploaded or downloaded.\n"
    "With a display it sits in the system tray; without one, or with --headless,\n"
    "it runs on the terminal.\n"
    "\n"
    "Options:\n"
    "  --headless      run on the terminal: print the status line at every change,\n"
    "                  each notification, alert and network change\n"
    "  --folder PATH   watch PATH (stored as the watched folder, as the preferences\n"
    "                  window would)\n"
    "  --rescan        after starting, scan the folder once for items still\n"
    "                  waiting to be uploaded\n"
    "  --verbose       also print what it does as a matter of course (each folder\n"
    "                  a scan enters, menus closing); also the VerboseLogging\n"
    "                  preference\n"
    "  --demo          a demonstration: a fresh demo folder with the simulated sync\n"
    "                  agent making uploads and downloads in it (vantorel-cloudsim\n"
    "                  demo), and Vantorel watching it with preferences and a\n"
    "                  support folder of its own; quitting stops both and removes it\n"
    "  --version       print the version and build, and exit\n"
    "  --help          show this text\n"
    "\n"
    "Commands for the running Vantorel (over its control socket):\n"
    "  status          print the status line; --json: the state as one JSON object;\n"
    "                  --follow: again at every change (once a second while\n"
    "                  percentages move), until interrupted\n"
    "  wait-idle       return once nothing is in progress and no received-download\n"
    "                  batch is open; --uploads: once no upload waits (before a\n"
    "                  shutdown or an unmount); --timeout SECONDS: give up after that long\n"
    "  open            open or close the popover (the tray face)\n"
    "  preferences     open the preferences window (the tray face)\n"
    "  rescan [PATH]   scan the watched folder, or PATH, for transfers in progress\n"
    "  pause, resume   pause or resume the sync client's folders, where it can be\n"
    "                  told to (Syncthing)\n"
    "  quit            quit in order (the history is saved)\n"
    "Exit codes: 0 done, 1 timed out, 2 no Vantorel runs (or a wrong command),\n"
    "3 refused or failed. A second plain launch opens the running one's popover.\n"
    "\n"
    "Files:\n"
    "  $XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist   preferences\n"
    "                  (read and written with vantorel-defaults)\n"
    "  $XDG_DATA_HOME/Vantorel/vantorel_log.txt                 transfer log\n"
    "  $XDG_DATA_HOME/Vantorel/recent_transfers.plist           recent transfers\n"
    "  $XDG_RUNTIME_DIR/vantorel/control                        control socket\n"
    "                  ($XDG_DATA_HOME/Vantorel/run/control without a runtime folder)\n"
    "(~/.config and ~/.local/share when the variables are not set.)\n"
    "\n"
    "Quit with Ctrl-C (SIGINT) or SIGTERM.\n";

}  // namespace vantorel
