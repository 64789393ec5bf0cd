#pragma once
// A thread that runs one method of one object, once, with cooperative
// cancellation; and a synchronous call on the main thread.
//
// Ownership: Create returns the creator's reference. Start gives the running
// thread a reference of its own, so the creator may drop its reference at
// once (keeping a plain pointer to call Cancel). The thread's references to
// its target are held until the method returns.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "units/runtime/AbsoluteTime.h"
#include "units/runtime/MainLoop.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TThread : public TObject {
public:
  using Invocation = std::function<void()>;

  // A ready invocation; an empty one makes a thread that says "The thread has
  // no invocation." and ends.
  static TRef<TThread> Create(Invocation invocation);
  template <typename T>
  static TRef<TThread> Create(void (T::*method)(), T* object) {
    return Create([method, keep = KeepAlive(object), object] { (object->*method)(); });
  }
  template <typename T, typename A>
  static TRef<TThread> Create(void (T::*method)(A*), T* object, A* argument) {
    return Create([method, keep = KeepAlive(object), object, argument] { (object->*method)(argument); });
  }
  template <typename T, typename A>
  static TRef<TThread> Create(void (T::*method)(A*, std::int32_t), T* object, A* argument, std::int32_t value) {
    return Create(
        [method, keep = KeepAlive(object), object, argument, value] { (object->*method)(argument, value); });
  }

  // Starts the thread; false (and nothing else) when it was started before or
  // the system has no thread to give.
  bool Start();
  // Marks the thread cancelled; its method must notice (IsCancelled) and
  // return. A sleep of the thread ends at once.
  void Cancel();
  // Ends the thread's current sleep at once, or its next one when it is not
  // sleeping: there is news to act on before the sleep would have ended.
  void Nudge();
  bool IsCancelled() const;
  bool IsExecuting() const;
  bool IsFinished() const;
  // Waits until the method has returned; false when `timeoutSeconds` passed
  // first (or the thread was never started). For orderly shutdown.
  bool WaitUntilFinished(double timeoutSeconds) const;

  // The calling thread sleeps; a cancelled or nudged TThread wakes early.
  static void SleepForTimeInterval(double seconds);
  static void SleepUntilDate(AbsoluteTime date);
  // Ends the calling TThread's method at once (its stack is unwound). On a
  // thread that is not a TThread it only says so.
  static void Exit();
  // The TThread running the caller, or null on other threads.
  static TThread* CurrentThread();
  static bool IsMainThread();

  // Create and Start; the caller's reference is autoreleased: a thread
  // started and forgotten. The pointer is valid until the thread ends.
  template <typename T>
  static TThread* InvokeMethod(void (T::*method)(), T* object) {
    return StartForgotten(Create(method, object));
  }
  template <typename T, typename A>
  static TThread* InvokeMethod(void (T::*method)(A*), T* object, A* argument) {
    return StartForgotten(Create(method, object, argument));
  }
  template <typename T, typename A>
  static TThread* InvokeMethod(void (T::*method)(A*, std::int32_t), T* object, A* argument, std::int32_t value) {
    return StartForgotten(Create(method, object, argument, value));
  }

  // Runs method(target, argument) on the main thread and returns once it has
  // run; on the main thread it runs at once. Target and argument are kept
  // alive meanwhile. Returns false, without running it, when the main loop is
  // stopping (a thread must not wait on a main thread that is going away).
  // Without a main loop the call runs on the calling thread.
  template <typename T, typename A>
  static bool InvokeMethodOnMainThread(void (T::*method)(A*), T* target, A* argument) {
    return RunOnMainThread(
        [method, keepTarget = KeepAlive(target), keepArgument = KeepAlive(argument), target, argument] {
          (target->*method)(argument);
        });
  }
  static bool RunOnMainThread(const std::function<void()>& task);

private:
  explicit TThread(Invocation invocation);
  static TThread* StartForgotten(TRef<TThread> thread);
  void Body();

  Invocation invocation_;
  // `mutex_` guards the state below and wakes sleepers and waiters.
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool started_ = false;
  bool executing_ = false;
  bool finished_ = false;
  bool cancelled_ = false;
  bool nudged_ = false;
};

}  // namespace vantorel
