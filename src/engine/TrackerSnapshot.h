#pragma once
// One reading of the tracker's state for the faces (status line, tray icon,
// popover, control socket), all of it taken at the same moment under the
// tracker's lock: counts read one by one could come from different passes.

#include <cstdint>
#include <optional>
#include <string>

#include "units/runtime/AbsoluteTime.h"

namespace vantorel {

struct TrackerSnapshot {
  enum class Status : std::int32_t {
    Idle = 0,               // nothing in progress
    Transferring = 1,       // at least one transfer in progress
    ReceivedDownloads = 2,  // nothing in progress, received downloads whose batch is open
  };
  Status status = Status::Idle;
  std::int32_t inProgress = 0;
  std::int32_t downloadsInProgress = 0;  // of those in progress
  std::int32_t completed = 0;  // of the current batch
  // How much of the transfers in progress is done, in files: each counts by
  // the fraction its source gives (0 where it gives none).
  double inProgressDone = 0.0;
  // While transfers are in progress: why none of them can move now, as the
  // source says it (empty while they can).
  std::string waitingFor;
  std::int32_t total = 0;      // of the current batch
  std::int32_t completedDownloads = 0;
  // Transfers the client gave up on, kept until retried or removed.
  std::int32_t failed = 0;
  // The batch has just ended; the counts above are its last.
  bool finished = false;
  // How long the batch that ended took (0 for a batch of downloads).
  double elapsedTime = 0.0;
  // The received downloads of the download batch that just closed.
  std::int32_t previousCompletedDownloads = 0;
  bool paused = false;
  // The network as the tracker last heard of it (it pauses without one).
  bool reachable = true;
  // The sync client itself is paused.
  bool syncingPaused = false;
  // When a transfer last completed, as far as this tracker knows.
  std::optional<AbsoluteTime> lastTransfer;

  std::int32_t StatusCode() const { return static_cast<std::int32_t>(status); }
};

}  // namespace vantorel
