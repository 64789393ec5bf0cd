#include "units/runtime/TThread.h"

#include <chrono>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

#include "units/runtime/Diagnostics.h"

namespace vantorel {

namespace {
thread_local TThread* tCurrentThread = nullptr;
const std::thread::id kProcessMainThread = std::this_thread::get_id();

// Unwinds a TThread's method for Exit.
struct ThreadExit {};
}  // namespace

TThread::TThread(Invocation invocation) : invocation_(std::move(invocation)) {}

TRef<TThread> TThread::Create(Invocation invocation) { return TRef<TThread>::Adopt(new TThread(std::move(invocation))); }

bool TThread::Start() {
  {
    std::lock_guard lock(mutex_);
    if (started_) return false;
    started_ = true;
    executing_ = true;
  }
  try {
    // The running thread holds its own reference until the method returns.
    std::thread([self = TRef<TThread>(this)] { self->Body(); }).detach();
  } catch (const std::system_error& error) {
    WriteDiagnosticLine(std::string("Cannot start a thread: ") + error.what());
    std::lock_guard lock(mutex_);
    executing_ = false;
    finished_ = true;
    changed_.notify_all();
    return false;
  }
  return true;
}

void TThread::Body() {
  tCurrentThread = this;
  if (!invocation_) {
    // Said on the thread, which then simply ends: a missing method is a
    // programming error, not a reason to take the process down.
    WriteDiagnosticLine("The thread has no invocation.");
  } else {
    TAutoreleasePool pool;
    try {
      invocation_();
    } catch (const ThreadExit&) {
    }
  }
  invocation_ = nullptr;  // gives up the references to the target now
  tCurrentThread = nullptr;
  std::lock_guard lock(mutex_);
  executing_ = false;
  finished_ = true;
  changed_.notify_all();
}

void TThread::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

void TThread::Nudge() {
  std::lock_guard lock(mutex_);
  nudged_ = true;
  changed_.notify_all();
}

bool TThread::IsCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool TThread::IsExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool TThread::IsFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool TThread::WaitUntilFinished(double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  if (!started_) return false;
  return changed_.wait_for(lock, std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
                           [this] { return finished_; });
}

void TThread::SleepForTimeInterval(double seconds) {
  if (!(seconds > 0)) return;
  const auto duration = std::chrono::duration<double>(std::min(seconds, 1e9));
  if (TThread* self = tCurrentThread) {
    std::unique_lock lock(self->mutex_);
    self->changed_.wait_for(lock, duration, [self] { return self->cancelled_ || std::exchange(self->nudged_, false); });
  } else {
    std::this_thread::sleep_for(duration);
  }
}

void TThread::SleepUntilDate(AbsoluteTime date) { SleepForTimeInterval(date - CurrentAbsoluteTime()); }

void TThread::Exit() {
  if (tCurrentThread == nullptr) {
    WriteDiagnosticLine("TThread::Exit called outside a TThread; ignored.");
    return;
  }
  throw ThreadExit{};
}

TThread* TThread::CurrentThread() { return tCurrentThread; }

bool TThread::IsMainThread() {
  if (MainLoop* loop = MainLoop::Main()) return loop->IsMainThread();
  return std::this_thread::get_id() == kProcessMainThread;
}

TThread* TThread::StartForgotten(TRef<TThread> thread) {
  thread->Start();
  TThread* raw = thread.get();
  thread.Leak()->Autorelease();
  return raw;
}

bool TThread::RunOnMainThread(const std::function<void()>& task) {
  MainLoop* loop = MainLoop::Main();
  if (loop == nullptr) {
    task();
    return true;
  }
  return loop->PostAndWait(task);
}

}  // namespace vantorel
