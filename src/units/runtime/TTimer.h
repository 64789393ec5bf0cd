#pragma once
// A timer that calls a method of a target on the main thread after a delay,
// once or repeatedly, and keeps itself alive while installed: a caller can
// fire a one-shot timer and forget it.
//
// The target is not retained (unless SetRetainTargetOwnership(true) was in
// force when the timer was made): it must outlive its timers. Timers may be
// installed and removed from any thread; they fire on the main loop only.

#include <cstdint>
#include <functional>
#include <mutex>

#include "units/runtime/MainLoop.h"
#include "units/runtime/TObject.h"

namespace vantorel {

class TTimer : public TObject {
public:
  // Called with the timer's parameters, or the timer itself when it has none.
  using Action = std::function<void(void* argument)>;

  static TRef<TTimer> Create(double startDelay, double fireInterval, Action action, void* parameters = nullptr);
  template <typename T>
  static TRef<TTimer> Create(double startDelay, double fireInterval, void (T::*action)(void*), T* target,
                             void* parameters = nullptr) {
    return Create(startDelay, fireInterval, Bind(target, [action](T* t, void* a) { (t->*action)(a); }), parameters);
  }
  template <typename T>
  static TRef<TTimer> Create(double startDelay, double fireInterval, void (T::*action)(), T* target) {
    return Create(startDelay, fireInterval, Bind(target, [action](T* t, void*) { (t->*action)(); }), nullptr);
  }

  // Schedules the first firing `startDelay` seconds from now. Installing an
  // installed timer only writes a warning.
  void Install();
  // Unschedules the timer and gives up the reference it held on itself;
  // removing a timer that is not installed only writes a warning.
  void Remove();
  bool IsValid() const;

  // A one-shot timer, installed and left to itself: it fires once and is gone.
  template <typename T>
  static TTimer* InvokeMethod(double delay, void (T::*method)(), T* target) {
    return InstallForgotten(Create(delay, 0.0, method, target));
  }
  template <typename T>
  static TTimer* InvokeMethod(double delay, double interval, void (T::*method)(void*), T* target,
                              void* parameters = nullptr) {
    return InstallForgotten(Create(delay, interval, method, target, parameters));
  }

  double GetStartDelay() const { return startDelay_; }
  double GetFireInterval() const { return fireInterval_; }
  // 0 never fired, 1 fired once, 2 fired more than once.
  std::int32_t GetFiredState() const;
  bool GetFiredFirstTime() const { return GetFiredState() == 1; }
  // Seconds since the first firing (0 before it).
  double GetElapsedTime() const;
  void* GetParameters() const;
  void SetParameters(void* parameters);

  static void SetRetainTargetOwnership(bool retain);
  static bool GlobalRetainTargetOwnership();

protected:
  TTimer(double startDelay, double fireInterval, Action action, void* parameters);
  // Runs after each call of the action; nothing by default.
  virtual void Invoked() {}
  void Deallocate() override;

private:
  template <typename T, typename Call>
  static Action Bind(T* target, Call call) {
    if constexpr (std::is_base_of_v<TObject, T>) {
      if (GlobalRetainTargetOwnership())
        return [keep = TRef<T>(target), call](void* a) { call(keep.get(), a); };
    }
    return [target, call](void* a) { call(target, a); };
  }
  static TTimer* InstallForgotten(TRef<TTimer> timer);
  void Schedule(double seconds);  // with mutex_ held
  void Fire(std::uint64_t generation);

  const double startDelay_;
  const double fireInterval_;
  const Action action_;

  // `mutex_` guards the fields below; never held while the action runs.
  mutable std::mutex mutex_;
  MainLoop* loop_ = nullptr;          // the loop it is installed on
  MainLoop::TimerId loopTimer_ = 0;   // non-zero exactly while installed
  std::uint64_t generation_ = 0;      // tells a stale firing from a current one
  void* parameters_;
  std::int32_t firedState_ = 0;
  std::int64_t startTimeMicroseconds_ = 0;
  bool deallocating_ = false;
};

}  // namespace vantorel
