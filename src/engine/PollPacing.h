#pragma once
// How the poll thread paces itself: the sleep between passes, which grows a
// little after each pass that completed nothing while transfers are in
// progress (up to a ceiling that rises with their number) and drops back
// to one second at any activity; and the slice of transfers in progress a
// pass re-examines (a number of paths, not a batch of transfers: the
// polling mode chooses it).
//
// Threads: Reset may come from any thread (activity is noticed on both);
// the pass calls come from the poll thread; the readings are atomic.

#include <atomic>
#include <cstdint>

namespace vantorel {

class PollPacing {
public:
  // Activity: the interval returns to one second, and the slice follows
  // the polling mode (0 normal: 100, 1 slower: 25, 2 faster: 200; any
  // other mode leaves it as it was).
  void Reset(std::int64_t pollingMode);

  // Poll thread: a pass begins; a transfer completed during it; it ended
  // with `inProgress` transfers still going.
  void BeginPass() { completionsThisPass_ = 0; }
  void NoteCompletion() { ++completionsThisPass_; }
  void EndPass(int inProgress);

  double Interval() const { return interval_.load(); }
  // Paths re-examined per pass; 0 means all of them.
  std::int32_t SliceSize() const { return sliceSize_.load(); }

  // The longest sleep for this many transfers in progress.
  static double IntervalCeiling(int inProgress);

private:
  std::atomic<double> interval_{1.0};
  std::atomic<std::int32_t> sliceSize_{0};
  std::atomic<std::int32_t> completionsThisPass_{0};
};

}  // namespace vantorel
