#pragma once
// What a face's controls may ask of the application: a click on the tray
// icon, the menu's commands and the windows' buttons reach the controller
// through this, so that the face needs no other part of it. Main thread.

#include <optional>
#include <string>
#include <vector>

#include "units/fs/UserFolders.h"

namespace vantorel {

class TAppCommands {
public:
  // The tray icon was clicked: the popover opens, or closes when shown.
  virtual void statusItemClicked() = 0;
  // Check for Updates: the update portal, when the network is there.
  virtual void showUpdatePortal() = 0;
  // Scans the watched folder again (with `ask`, a folder the user chooses).
  virtual void performRescan(bool ask) = 0;
  virtual void openPreferences() = 0;
  // Where item state comes from in this run, in a few words for the
  // preferences ("Nextcloud: /home/u/Nextcloud", "extended attributes").
  virtual std::string itemSourceSummary() = 0;
  // A folder the sync client synchronises, as the user knows it.
  struct ClientFolder {
    std::string path;
    std::string client;  // "Syncthing"
    std::string label;   // the client's name for it; empty where it has none
    // How the user is shown it: "Syncthing: Photos (~/Sync/Photos)",
    // "rclone: gdrive: at ~/GDrive" (a mount is named by its remote),
    // "Nextcloud: ~/Nextcloud"; without `labelled`, a label other than a
    // remote is left out.
    std::string Title(bool labelled = true) const {
      const std::string shown = PathWithTilde(path);
      if (client == "rclone" && !label.empty()) return client + ": " + label + " at " + shown;
      return client + ": " + (labelled && !label.empty() ? label + " (" + shown + ")" : shown);
    }
  };
  // The folders the sync client synchronises (Syncthing's folders, the
  // desktop client's), for the user to choose from.
  virtual std::vector<ClientFolder> syncClientFolders() = 0;
  // Whether the sync client can be paused from here, and whether it is.
  virtual bool canPauseSyncing() = 0;
  // Whether it could be while it runs (the command is then shown, greyed
  // while the client is away).
  virtual bool pausesSyncing() { return canPauseSyncing(); }
  virtual bool syncingPaused() = 0;
  // Pauses (or resumes) the sync client; false, with `problem` set, when
  // it cannot be asked. What it did arrives as a status change.
  virtual bool setSyncingPaused(bool paused, std::string* problem) = 0;
  // Whether the machine's shutdown is held now for the uploads in progress;
  // nothing where the user switched that off (then nothing of it is said).
  virtual std::optional<bool> shutdownHeld() { return std::nullopt; }
  // Quit: the face ends its event loop; the application then shuts down in order.
  virtual void terminate() = 0;

protected:
  ~TAppCommands() = default;
};

}  // namespace vantorel
