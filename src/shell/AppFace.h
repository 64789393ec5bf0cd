#pragma once
// What only a face can do for the application controller: windows, panels,
// alerts, the status item and popover, notifications, sounds, login items.
// The console face and the desktop face implement it; the controller never
// knows which one it talks to. Every call comes on the main thread.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantorel {

class TAppCommands;
class TICloudTracker;
class TScanner;

// A folder-choice panel.
struct FolderPanel {
  std::string title;
  std::string message;
  std::string prompt;          // the confirm button
  std::string startDirectory;  // absolute
  bool canCreateDirectories = false;
};

// A modal alert; the answer is the index of the button chosen.
struct Alert {
  std::string message;
  std::string informative;
  std::vector<std::string> buttons{"Ok"};
};

// How the first-run welcome ended: Done with a row chosen (0 the whole
// "Mobile Documents" folder, 1 iCloud Drive only), closed with its close
// box (the launch goes on, nothing stored), or Quit.
struct WelcomeChoice {
  enum class Action { Done, Closed, Quit };
  Action action = Action::Closed;
  // 0: every synced folder, 1: the drive only, 2: another folder (chosen
  // in the folder panel next), -1: none; or, with `folder` set, a sync
  // client's folder that the welcome offered.
  int row = 1;
  std::optional<std::string> folder;
};

// A folder the welcome offers besides its own rows: one a sync client
// synchronises ("Nextcloud: ~/Nextcloud").
struct WelcomeFolder {
  std::string label;
  std::string path;
  bool operator==(const WelcomeFolder&) const = default;
};
// Asked now and then while the welcome is shown (clients register their
// folders some time after they are reached); never blocks.
using WelcomeFolderSource = std::function<std::vector<WelcomeFolder>()>;

// A user notification. The sound is the system default, none, or a name.
struct UserNotification {
  enum class Sound { Default, None, Named };
  std::string title;
  std::string subtitle;
  Sound sound = Sound::Default;
  std::string soundName;  // with Sound::Named
};

class TAppFace {
public:
  virtual ~TAppFace() = default;

  // The line that stands for the toolkit's version at launch.
  virtual std::string ToolkitVersionLine() = 0;
  // Makes the application's fonts available (optional).
  virtual void RegisterFonts() {}
  // The controller's commands for the face's controls; null once it is gone.
  virtual void SetCommands(TAppCommands* commands) { (void)commands; }
  // Whether panels and alerts can be put to a user at all.
  virtual bool IsInteractive() = 0;
  // Whether it has a popover and windows (the desktop face).
  virtual bool HasWindows() const { return false; }
  // Brings the window the launch waits on (the welcome, the folder panel,
  // an alert) to the front; false when none waits.
  virtual bool RaiseModalWindow() { return false; }
  // The first-run welcome, modal: returns the user's choice when it has closed.
  virtual WelcomeChoice RunWelcome(const WelcomeFolderSource& clientFolders) = 0;
  // A modal folder panel: the chosen folder, or nothing when cancelled.
  virtual std::optional<std::string> RunFolderPanel(const FolderPanel& panel) = 0;
  // A modal alert: the index of the button chosen.
  virtual int RunAlert(const Alert& alert) = 0;
  // Loads the status images for the current icon size.
  virtual void ReloadStatusItemImages() {}
  // Builds the status item, or changes its length (points).
  virtual void LoadStatusItem(int length) = 0;
  virtual void SetStatusItemLength(int length) = 0;
  // The tracker's state changed: the status item and an open popover follow.
  virtual void TrackerStatusChanged(TICloudTracker* tracker) = 0;
  virtual void DeliverNotification(const UserNotification& notification) = 0;
  // The popover under the tray icon, showing `tracker`: opens it, or closes
  // it when shown.
  virtual void TogglePopover(TICloudTracker& tracker) { (void)tracker; }
  virtual void ShowPreferences() {}
  virtual void ShowUpdatePortal() {}
  // Makes the application start, or stop starting, at login.
  virtual void OpenAtLogin(bool open) = 0;
  // Ends the application once the current event is handled (the user chose
  // to quit in a panel while it was running).
  virtual void RequestQuit(int exitCode) = 0;

  // A scan's window: opened when the scan starts, updated while it runs,
  // closed when it ends; `scanner` tells two scans apart, and its Cancel is
  // the window's Cancel and close box. `results` empty means hidden.
  virtual void ScannerOpened(TScanner& scanner) = 0;
  virtual void ScannerPathChanged(TScanner& scanner, const std::string& path) = 0;
  virtual void ScannerResultsChanged(TScanner& scanner, const std::string& results) = 0;
  virtual void ScannerClosed(TScanner& scanner) = 0;
};

}  // namespace vantorel
