#pragma once
// The item-state source of a desktop sync client that serves file managers
// over a local socket (SyncClientProtocol.h): the Nextcloud and the ownCloud
// desktop clients, one implementation with two socket names.
//
// What the client's states mean here:
// - tracked: under a folder the client registered, and not IGNORE (an
//   online-only placeholder that is not being fetched is not tracked);
// - uploaded: OK, for the content the file has now. After a local change
//   an OK counts only once the client has shown it saw the change (a state
//   other than OK since) or once it still says OK a few seconds later: the
//   client answers from its last run until its watcher catches up;
// - in progress: any other state of a tracked item (SYNC, and NOP, which a
//   file changed during a run reads until the client's next run: flicker
//   between them is one transfer);
// - a download: the client's temporary file ".NAME.~hex" while NAME
//   arrives, or the placeholder "NAME.nextcloud" ("NAME.owncloud") while
//   it is fetched; the item they stand for is received once it is there
//   under its own name;
// - ERROR: said once per path; the tracker ends the transfer as failed.
//
// Threads: one thread of its own speaks to the client (connects, with
// backoff, and reconnects when the client quits or restarts). Questions
// come from any thread and are answered from the table under `mutex_`; an
// unknown path is asked about in the background and its answer pushed.

#include <memory>
#include <string>

#include "engine/ItemStateSource.h"

namespace vantorel {

struct SyncClientOptions {
  std::string serviceName;        // "Nextcloud", "ownCloud": for lines and the status
  std::string socketPath;         // where the client listens
  std::string placeholderSuffix;  // ".nextcloud", ".owncloud"
  // After a local change, how long an unchanged OK takes to count.
  double settleSeconds = 5.0;
  // How long a client may leave questions unanswered before that is said.
  double silenceSeconds = 10.0;
  // Say so while the client is not running (off when the client was not
  // chosen, only looked for).
  bool reportAbsence = true;
};

// The options for the client named "nextcloud" or "owncloud" (the socket in
// the user's runtime folder); nothing for another name.
std::optional<SyncClientOptions> SyncClientOptionsFor(const std::string& client);

std::shared_ptr<ItemStateSource> MakeSyncClientSource(SyncClientOptions options);

}  // namespace vantorel
