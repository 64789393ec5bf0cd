#include "sources/SourcePushes.h"

#include "units/runtime/MainLoop.h"

namespace vantorel {

std::shared_ptr<SourcePushes::Listener> SourcePushes::Start(MainLoop& loop, Listener listener) {
  std::lock_guard lock(mutex_);
  loop_ = &loop;
  listener_ = std::make_shared<Listener>(std::move(listener));
  return listener_;
}

void SourcePushes::Stop() {
  std::lock_guard lock(mutex_);
  loop_ = nullptr;
  listener_.reset();
}

bool SourcePushes::Post(std::function<void(Listener&)> call) {
  std::lock_guard lock(mutex_);
  if (loop_ == nullptr || !listener_) return false;
  std::weak_ptr<Listener> weak = listener_;
  loop_->Post([weak, call = std::move(call)] {
    if (const auto listener = weak.lock()) call(*listener);
  });
  return true;
}

}  // namespace vantorel
