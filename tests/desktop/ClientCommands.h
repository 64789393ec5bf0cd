#pragma once
// What a face's controls ask of the application, answered as a sync client
// that synchronises some folders and can be paused would have it answered.

#include <optional>
#include <string>
#include <vector>

#include "shell/AppCommands.h"

namespace vantorel {

class ClientCommands final : public TAppCommands {
public:
  void statusItemClicked() override {}
  void showUpdatePortal() override {}
  void performRescan(bool) override {}
  void openPreferences() override {}
  std::string itemSourceSummary() override { return "Syncthing"; }
  std::vector<ClientFolder> syncClientFolders() override { return folders; }
  bool canPauseSyncing() override { return canPause && running; }
  bool pausesSyncing() override { return canPause; }
  bool syncingPaused() override { return paused; }
  bool setSyncingPaused(bool pause, std::string*) override {
    paused = pause;
    return true;
  }
  std::optional<bool> shutdownHeld() override { return held; }
  void terminate() override {}
  std::vector<ClientFolder> folders;
  bool canPause = true;
  bool running = true;
  bool paused = false;
  std::optional<bool> held;
};

}  // namespace vantorel
