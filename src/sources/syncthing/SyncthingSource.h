#pragma once
// The item-state source of Syncthing: its REST API and event stream, found
// through its config.xml (SyncthingConfig.h); what the events mean for each
// file is SyncthingFiles.h's.
//
// Threads: two of its own. The events thread finds Syncthing (again after
// it stops, restarts or changes its key: backoff, one line per change of
// state), reads its folders and follows the filtered event long-poll. The
// requests thread asks what the events call for: a device's remote need,
// the folders again, the connections, the record of a change that waits
// long to be indexed, and pauses or resumes folders. Questions come from
// any thread and are answered from the table under `mutex_`; nothing
// waits for Syncthing while holding it.

#include <memory>

#include "engine/ItemStateSource.h"

namespace vantorel {

struct SyncthingOptions {
  // Say so while Syncthing is not running (off when it was only looked
  // for, not chosen).
  bool reportAbsence = true;
  // How long the event long-poll waits for news, in seconds.
  double pollSeconds = 20.0;
  // A change not indexed after this long is asked about.
  double indexWaitSeconds = 15.0;
};

std::shared_ptr<ItemStateSource> MakeSyncthingSource(SyncthingOptions options = {});

}  // namespace vantorel
