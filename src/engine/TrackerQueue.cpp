// The tracker's change queue: the directory watcher feeds it on the main
// thread, which never waits for the poll thread's scan.

#include <algorithm>

#include "engine/DirectoryWatcher.h"
#include "engine/Tracker.h"
#include "units/runtime/Diagnostics.h"
#include "units/runtime/MainLoop.h"
#include "units/runtime/TTimer.h"

namespace vantorel {

namespace {
constexpr double kMergeRetryDelay = 0.5;
}

void TICloudTracker::MonitorDirectories(const std::vector<std::string>& folders) {
  eventStream_.reset();  // the running stream stops before the new one starts
  watchedFolders_.clear();
  std::string error;
  eventStream_ = DirectoryWatcher::Create(
      folders, MainLoop::Main(), [this](const std::vector<std::string>& paths) { DirectoryChangedCallback(paths); },
      options_.watchLatency, &error);
  if (!eventStream_) {
    // Nothing more: a later Reload does nothing either.
    WriteDiagnosticLine("Fatal: FSEventStreamCreate returned nil.");
    started_ = false;
    return;
  }
  started_ = true;
  watchedFolders_ = folders;
}

void TICloudTracker::DirectoryChangedCallback(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) QueueFile(path);
}

void TICloudTracker::QueueFile(const std::string& path) {
  if (queueLock_.try_lock()) {
    if (!queue_.Contains(path)) queue_.Add(path);
    queueLock_.unlock();
    return;
  }
  // The poll thread is scanning: park the path and try again shortly. One
  // merge pending covers every parked path, however many arrive.
  if (!pendingQueue_) pendingQueue_ = std::make_unique<std::vector<std::string>>();
  pendingQueue_->push_back(path);
  if (!mergeTimer_) ScheduleMerge();
}

void TICloudTracker::ScheduleMerge() {
  mergeTimer_ = TRef<TTimer>(TTimer::InvokeMethod(kMergeRetryDelay, &TICloudTracker::MergePendingQueue, this));
}

void TICloudTracker::MergePendingQueue() {
  mergeTimer_.reset();  // the firing timer keeps itself alive until its action returns
  if (pendingQueue_ && queueLock_.try_lock()) {
    for (const std::string& path : *pendingQueue_)
      if (!queue_.Contains(path)) queue_.Add(path);
    pendingQueue_.reset();
    queueLock_.unlock();
  }
  if (pendingQueue_) ScheduleMerge();
}

}  // namespace vantorel
