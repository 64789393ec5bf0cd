#pragma once
// How an item-state source tells its listener: calls posted from any of the
// source's threads run on the main loop with the listener, and a call still
// queued when pushing stops finds nobody and does nothing.
//
// Threads: Start and Stop on the main thread; Post from any thread. `mutex_`
// guards the loop and the listener; a running call holds the listener, so
// Stop never pulls it from under one.

#include <functional>
#include <memory>
#include <mutex>

#include "engine/ItemStateSource.h"

namespace vantorel {

class SourcePushes {
public:
  using Listener = ItemStateSource::Listener;

  // From now on, posted calls reach `listener` on `loop`; returns it, for
  // what the source tells at once.
  std::shared_ptr<Listener> Start(MainLoop& loop, Listener listener);
  void Stop();
  // False when nobody listens yet (the call is dropped: StartPushing tells
  // what happened before).
  bool Post(std::function<void(Listener&)> call);

private:
  std::mutex mutex_;
  MainLoop* loop_ = nullptr;
  std::shared_ptr<Listener> listener_;
};

}  // namespace vantorel
