#include "shell/ItemSourceChoice.h"

#include "sources/SelectingItemSource.h"
#include "sources/attributes/AttributeItemSource.h"
#include "sources/nextcloud/SyncClientSource.h"
#include "sources/rclone/RcloneSource.h"
#include "sources/syncthing/SyncthingSource.h"
#include "units/runtime/Diagnostics.h"

namespace vantorel {

std::shared_ptr<ItemStateSource> MakeItemSourceFor(const std::optional<std::string>& service) {
  const std::string name = service.value_or("auto");
  if (name == "attributes") return MakeAttributeItemSource();
  if (auto options = SyncClientOptionsFor(name)) return MakeSyncClientSource(std::move(*options));
  if (name == "syncthing") return MakeSyncthingSource();
  if (name == "rclone") return MakeRcloneSource();
  if (name != "auto")
    WriteDiagnosticLine("Unknown SyncService \"" + name +
                        "\" (known: auto, attributes, nextcloud, owncloud, syncthing, rclone); choosing automatically.");
  std::vector<std::shared_ptr<ItemStateSource>> clients;
  for (const char* client : {"nextcloud", "owncloud"}) {
    SyncClientOptions options = *SyncClientOptionsFor(client);
    // Looked for, not chosen: a client that is not running is no news.
    options.reportAbsence = false;
    clients.push_back(MakeSyncClientSource(std::move(options)));
  }
  SyncthingOptions syncthing;
  syncthing.reportAbsence = false;
  clients.push_back(MakeSyncthingSource(syncthing));
  RcloneOptions rclone;
  rclone.reportAbsence = false;
  rclone.onlyAroundWatchedFolder = true;
  clients.push_back(MakeRcloneSource(rclone));
  return MakeSelectingItemSource(std::move(clients), MakeAttributeItemSource());
}

}  // namespace vantorel
