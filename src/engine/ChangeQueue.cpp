#include "engine/ChangeQueue.h"

#include "units/runtime/TTimer.h"

namespace vantorel {

ChangeQueue::~ChangeQueue() { Stop(); }

void ChangeQueue::Add(const std::string& path) {
  if (lock_.try_lock()) {
    if (!queue_.Contains(path)) queue_.Add(path);
    lock_.unlock();
    return;
  }
  // The poll thread is scanning: park the path and try again shortly.
  if (!pending_) pending_ = std::make_unique<std::vector<std::string>>();
  pending_->push_back(path);
  if (!mergeTimer_) ScheduleMerge();
}

void ChangeQueue::ScheduleMerge() {
  mergeTimer_ = TTimer::Create(kMergeRetryDelay, 0.0, [this](void*) { MergePending(); });
  mergeTimer_->Install();
}

void ChangeQueue::MergePending() {
  mergeTimer_.reset();  // the firing timer keeps itself alive until its action returns
  if (pending_ && lock_.try_lock()) {
    for (const std::string& path : *pending_)
      if (!queue_.Contains(path)) queue_.Add(path);
    pending_.reset();
    lock_.unlock();
  }
  if (pending_) ScheduleMerge();
}

bool ChangeQueue::HasUnexamined() const {
  if (PendingSize() > 0) return true;
  std::unique_lock lock(lock_, std::try_to_lock);
  return !lock.owns_lock() || queue_.Size() > 0;  // held: a scan is examining the queue
}

void ChangeQueue::Stop() {
  if (mergeTimer_ && mergeTimer_->IsValid()) mergeTimer_->Remove();
  mergeTimer_.reset();
}

int ChangeQueue::Size() const {
  std::lock_guard lock(lock_);
  return queue_.Size();
}

}  // namespace vantorel
