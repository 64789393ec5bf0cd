#include "units/runtime/MainLoop.h"

#include <atomic>

namespace vantorel {

namespace {
std::atomic<MainLoop*> gMainLoop{nullptr};
}

MainLoop::~MainLoop() {
  // A loop that goes away must not stay reachable as the process's main loop.
  MainLoop* self = this;
  gMainLoop.compare_exchange_strong(self, nullptr);
}

MainLoop* MainLoop::Main() { return gMainLoop.load(std::memory_order_acquire); }

void MainLoop::SetMain(MainLoop* loop) { gMainLoop.store(loop, std::memory_order_release); }

}  // namespace vantorel
