#include "units/runtime/TTimer.h"

#include <atomic>
#include <chrono>

#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
std::atomic<bool> gRetainTargetOwnership{false};

std::int64_t MicrosecondClock() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

TTimer::TTimer(double startDelay, double fireInterval, Action action, void* parameters)
    : startDelay_(startDelay), fireInterval_(fireInterval), action_(std::move(action)), parameters_(parameters) {}

TRef<TTimer> TTimer::Create(double startDelay, double fireInterval, Action action, void* parameters) {
  return TRef<TTimer>::Adopt(new TTimer(startDelay, fireInterval, std::move(action), parameters));
}

void TTimer::SetRetainTargetOwnership(bool retain) { gRetainTargetOwnership = retain; }
bool TTimer::GlobalRetainTargetOwnership() { return gRetainTargetOwnership; }

void TTimer::Schedule(double seconds) {
  // The pending firing holds the timer's reference on itself: installed
  // means alive, and cancelling the firing gives the reference up.
  const std::uint64_t generation = generation_;
  loopTimer_ = loop_->AddTimer(seconds, [self = TRef<TTimer>(this), generation] { self->Fire(generation); });
}

void TTimer::Install() {
  std::lock_guard lock(mutex_);
  if (loopTimer_ != 0) {
    WriteDiagnosticLine("Warning: Attempted to re-install timer.");
    return;
  }
  loop_ = MainLoop::Main();
  if (loop_ == nullptr) {
    WriteDiagnosticLine("Warning: no main loop to install a timer on.");
    return;
  }
  ++generation_;
  Schedule(startDelay_);
}

void TTimer::Remove() {
  MainLoop* loop;
  MainLoop::TimerId id;
  {
    std::lock_guard lock(mutex_);
    if (loopTimer_ == 0) {
      if (!deallocating_) WriteDiagnosticLine("Warning: Attempted to remove an uninstalled timer.");
      return;
    }
    loop = loop_;
    id = loopTimer_;
    loopTimer_ = 0;
    ++generation_;
  }
  // Outside the lock: dropping the pending firing may release this timer. A
  // loop that is no longer the main loop is gone or going, with its firings.
  if (MainLoop::Main() == loop) loop->CancelTimer(id);
}

bool TTimer::IsValid() const {
  std::lock_guard lock(mutex_);
  return loopTimer_ != 0;
}

void TTimer::Fire(std::uint64_t generation) {
  void* argument;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || loopTimer_ == 0) return;  // removed meanwhile
    firedState_ = firedState_ == 0 ? 1 : 2;
    if (startTimeMicroseconds_ == 0) startTimeMicroseconds_ = MicrosecondClock();
    argument = parameters_ != nullptr ? parameters_ : this;
    // A repeating timer schedules its next firing now, so that the action may
    // Remove it like any installed timer.
    if (fireInterval_ > 0) Schedule(fireInterval_);
  }
  // The firing task holds a reference for the duration of the call.
  action_(argument);
  Invoked();
  if (fireInterval_ > 0) return;
  // A one-shot timer fires once: still installed after its action, it is
  // removed now (its spent firing needs no cancelling).
  std::lock_guard lock(mutex_);
  if (generation == generation_ && loopTimer_ != 0) {
    loopTimer_ = 0;
    ++generation_;
  }
}

std::int32_t TTimer::GetFiredState() const {
  std::lock_guard lock(mutex_);
  return firedState_;
}

double TTimer::GetElapsedTime() const {
  std::lock_guard lock(mutex_);
  if (startTimeMicroseconds_ == 0) return 0;
  return static_cast<double>(MicrosecondClock() - startTimeMicroseconds_) / 1e6;
}

void* TTimer::GetParameters() const {
  std::lock_guard lock(mutex_);
  return parameters_;
}

void TTimer::SetParameters(void* parameters) {
  std::lock_guard lock(mutex_);
  parameters_ = parameters;
}

TTimer* TTimer::InstallForgotten(TRef<TTimer> timer) {
  timer->Install();
  // Alive through its pending firing; the creator's reference is given up
  // here. Without a main loop nothing is pending and the timer is gone.
  return timer->IsValid() ? timer.get() : nullptr;
}

void TTimer::Deallocate() {
  {
    std::lock_guard lock(mutex_);
    deallocating_ = true;
  }
  // Only reachable with no pending firing (it would hold a reference), except
  // when the main loop itself is being torn down; Remove is then quiet.
  Remove();
  TObject::Deallocate();
}

}  // namespace vantorel
