#pragma once
// The changed paths waiting to be examined, each once however often it was
// reported.
//
// Threads: the main thread adds paths and never waits for the poll thread:
// while a scan holds the queue, new paths are parked and merged by one timer
// a moment later (one merge pending covers every parked path). The poll
// thread holds the queue for a whole scan through a Scan. `lock_` guards the
// queue; the parked paths and the timer are the main thread's.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CountedSet.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TTimer;

class ChangeQueue {
public:
  ChangeQueue() = default;
  ~ChangeQueue();
  ChangeQueue(const ChangeQueue&) = delete;
  ChangeQueue& operator=(const ChangeQueue&) = delete;

  // Main thread.
  void Add(const std::string& path);
  void MergePending();
  int PendingSize() const { return static_cast<int>(pending_ ? pending_->size() : 0); }
  // Whether paths wait (queued, parked, or a scan is working through them);
  // never waits for the poll thread.
  bool HasUnexamined() const;
  // Cancels the pending merge (teardown).
  void Stop();

  // Any thread; waits for a running scan.
  int Size() const;
  // Holds the queue as a scan does (tests).
  std::unique_lock<std::mutex> LockForTesting() const { return std::unique_lock(lock_); }

  // The poll thread's hold on the queue for one scan.
  class Scan {
  public:
    explicit Scan(ChangeQueue& queue) : lock_(queue.lock_), queue_(queue.queue_) {}
    bool Empty() const { return queue_.Empty(); }
    std::vector<std::string> Paths() const { return queue_.Paths(); }
    void Remove(const std::string& path) { queue_.Remove(path); }

  private:
    std::lock_guard<std::mutex> lock_;
    CountedSet& queue_;
  };

  static constexpr double kMergeRetryDelay = 0.5;

private:
  void ScheduleMerge();

  mutable std::mutex lock_;
  CountedSet queue_;  // guarded by lock_
  std::unique_ptr<std::vector<std::string>> pending_;
  TRef<TTimer> mergeTimer_;
};

}  // namespace vantorel
