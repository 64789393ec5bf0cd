#pragma once
// A call made once, a while later, on the main thread: scheduling it again
// moves it, cancelling forgets it, destroying its owner cancels it. The
// popover's short delays (the hover buttons, the history reload, the
// release after closing) are made of these. Tests put time in their own
// hands with ManualDelayClock.

#include <QObject>

#include <functional>

class QTimer;

namespace vantorel {

class DelayedCall : public QObject {
public:
  DelayedCall(std::function<void()> call, QObject* parent);
  ~DelayedCall() override;

  void Schedule(int milliseconds);
  void Cancel();
  bool IsPending() const;

private:
  friend class ManualDelayClock;
  std::function<void()> call_;
  QTimer* timer_;
  // Under a manual clock: when it is due, or −1.
  long long due_ = -1;
};

// Main thread only. While one exists, delayed calls wait for Advance.
class ManualDelayClock {
public:
  ManualDelayClock();
  ~ManualDelayClock();
  ManualDelayClock(const ManualDelayClock&) = delete;
  ManualDelayClock& operator=(const ManualDelayClock&) = delete;

  // Moves time on, making every call that falls due, in order of due time.
  void Advance(int milliseconds);
};

}  // namespace vantorel
