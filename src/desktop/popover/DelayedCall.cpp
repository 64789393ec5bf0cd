#include "desktop/popover/DelayedCall.h"

#include <QTimer>

#include <algorithm>
#include <vector>

namespace vantorel {

namespace {
struct Manual {
  long long now = 0;
  std::vector<DelayedCall*> pending;
};
Manual* manual = nullptr;  // main thread only
}  // namespace

DelayedCall::DelayedCall(std::function<void()> call, QObject* parent)
    : QObject(parent), call_(std::move(call)), timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, [this] { call_(); });
}

DelayedCall::~DelayedCall() { Cancel(); }

void DelayedCall::Schedule(int milliseconds) {
  Cancel();
  if (manual != nullptr) {
    due_ = manual->now + milliseconds;
    manual->pending.push_back(this);
    return;
  }
  timer_->start(milliseconds);
}

void DelayedCall::Cancel() {
  timer_->stop();
  if (manual != nullptr && due_ >= 0) std::erase(manual->pending, this);
  due_ = -1;
}

bool DelayedCall::IsPending() const { return timer_->isActive() || due_ >= 0; }

ManualDelayClock::ManualDelayClock() { manual = new Manual; }

ManualDelayClock::~ManualDelayClock() {
  for (DelayedCall* call : manual->pending) call->due_ = -1;
  delete manual;
  manual = nullptr;
}

void ManualDelayClock::Advance(int milliseconds) {
  const long long end = manual->now + milliseconds;
  for (;;) {
    // A call may schedule or cancel others: look again after each.
    auto next = std::min_element(manual->pending.begin(), manual->pending.end(),
                                 [](const DelayedCall* a, const DelayedCall* b) { return a->due_ < b->due_; });
    if (next == manual->pending.end() || (*next)->due_ > end) break;
    DelayedCall* call = *next;
    manual->now = call->due_;
    manual->pending.erase(next);
    call->due_ = -1;
    call->call_();
  }
  manual->now = end;
}

}  // namespace vantorel
