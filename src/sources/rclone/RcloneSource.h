#pragma once
// The item-state source of rclone mounts (`rclone mount` with a VFS cache
// that writes back): its roots are the mount points of the `fuse.rclone`
// mounts (RcloneMounts.h); a file in a mount is uploading while rclone's
// record of it says "Dirty" (RcloneMeta.h), uploaded when it does not or
// there is none. Pending cannot tell waiting from sending and has no
// percentage.
//
// Threads: one of its own. It follows the mount table (POLLPRI on it when a
// mount comes or goes) and the record folders (inotify), and tells the
// listener of the files whose record changed. Questions come from any
// thread: each reads the file's record then (one small file), with the
// mounts copied under `mutex_`; nothing waits for rclone.

#include <memory>
#include <string>

#include "engine/ItemStateSource.h"

namespace vantorel {

struct RcloneOptions {
  // Say so while no rclone mount is there (off when it was only looked
  // for, not chosen).
  bool reportAbsence = true;
  // Follow only the mounts holding the watched folder or inside it (when
  // rclone was looked for among other clients, not chosen).
  bool onlyAroundWatchedFolder = false;
  // Where the mount table and the processes are read (tests point them
  // elsewhere).
  std::string mountTable = "/proc/self/mountinfo";
  std::string procRoot = "/proc";
};

std::shared_ptr<ItemStateSource> MakeRcloneSource(RcloneOptions options = {});

}  // namespace vantorel
