#include "units/runtime/PollMainLoop.h"

#include "units/runtime/Diagnostics.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantorel {

namespace {

using Clock = std::chrono::steady_clock;

enum class WaitState { Pending, Running, Done, Abandoned };

// A caller blocked in PostAndWait. Its state is guarded by Impl::mutex.
struct Waiter {
  WaitState state = WaitState::Pending;
};

struct Posted {
  MainLoop::Task task;
  std::shared_ptr<Waiter> waiter;  // null for a plain Post
};

struct Watch {
  int fd;
  MainLoop::Task task;
};

}  // namespace

struct PollMainLoop::Impl {
  // `mutex` guards everything below it; tasks always run with it released.
  std::mutex mutex;
  std::condition_variable waitersChanged;
  std::deque<Posted> queue;
  std::map<std::pair<Clock::time_point, TimerId>, Task> timers;
  std::unordered_map<TimerId, Clock::time_point> timerDeadlines;
  std::map<WatchId, Watch> watches;
  std::vector<Task> endOfPass;
  std::uint64_t nextId = 1;
  std::atomic<std::uint64_t> passes{0};

  std::atomic<bool> stopping{false};
  std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
  int wakeFd = -1;

  ~Impl() {
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void Wake() const {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is already non-zero: the loop will wake anyway.
    [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
  }

  void DrainWake() const {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd, &count, sizeof count);
  }

  // Abandons every waiting post that has not started. Caller holds `mutex`.
  void AbandonWaitersLocked() {
    for (auto it = queue.begin(); it != queue.end();) {
      if (it->waiter) {
        it->waiter->state = WaitState::Abandoned;
        it = queue.erase(it);
      } else {
        ++it;
      }
    }
    waitersChanged.notify_all();
  }

  int PollTimeoutMs(double timeoutSeconds) {
    std::lock_guard lock(mutex);
    if (!queue.empty()) return 0;
    double limit = timeoutSeconds < 0 ? -1 : timeoutSeconds;
    if (!timers.empty()) {
      const double untilTimer =
          std::chrono::duration<double>(timers.begin()->first.first - Clock::now()).count();
      const double t = untilTimer < 0 ? 0 : untilTimer;
      if (limit < 0 || t < limit) limit = t;
    }
    if (limit < 0) return -1;
    // Round up so that a timer is never polled for just before it is due.
    return static_cast<int>(std::min(std::ceil(limit * 1000.0), 24.0 * 3600 * 1000));
  }

  bool ServeDescriptors(const std::vector<pollfd>& fds, const std::vector<WatchId>& ids) {
    bool served = false;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Task task;
      {
        std::lock_guard lock(mutex);
        auto it = watches.find(ids[i - 1]);
        if (it == watches.end()) continue;  // unwatched by an earlier callback
        task = it->second.task;
      }
      task();
      served = true;
    }
    return served;
  }

  bool ServeTimers() {
    const Clock::time_point now = Clock::now();
    TimerId lastExisting;
    {
      std::lock_guard lock(mutex);
      lastExisting = nextId - 1;
    }
    bool served = false;
    for (;;) {
      Task task;
      {
        std::lock_guard lock(mutex);
        // Only timers that existed when this phase began: a zero-delay timer
        // that re-arms itself must not keep the pass from ending.
        auto it = timers.begin();
        while (it != timers.end() && it->first.first <= now && it->first.second > lastExisting) ++it;
        if (it == timers.end() || it->first.first > now) break;
        task = std::move(it->second);
        timerDeadlines.erase(it->first.second);
        timers.erase(it);
      }
      task();
      served = true;
    }
    return served;
  }

  bool ServeEndOfPass() {
    bool served = false;
    for (;;) {
      std::vector<Task> batch;
      {
        std::lock_guard lock(mutex);
        batch.swap(endOfPass);
      }
      if (batch.empty()) return served;
      // Tasks added while these run (a release that releases more) belong to
      // this pass's end too.
      for (Task& task : batch) task();
      served = true;
    }
  }

  bool ServePosted() {
    std::deque<Posted> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(queue);
    }
    for (Posted& posted : batch) {
      if (posted.waiter) {
        std::unique_lock lock(mutex);
        if (stopping.load()) {
          posted.waiter->state = WaitState::Abandoned;
          waitersChanged.notify_all();
          continue;
        }
        posted.waiter->state = WaitState::Running;
      }
      posted.task();
      if (posted.waiter) {
        std::lock_guard lock(mutex);
        posted.waiter->state = WaitState::Done;
        waitersChanged.notify_all();
      }
    }
    return !batch.empty();
  }
};

PollMainLoop::PollMainLoop() : impl_(std::make_shared<Impl>()) {
  impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->wakeFd < 0) {
    // Without a wake-up descriptor the loop still works, only by polling.
    WriteDiagnosticLine(std::string("Main loop: eventfd failed: ") + std::strerror(errno));
  }
}

PollMainLoop::~PollMainLoop() {
  // Stop being the process's loop first: tasks dropped below may own objects
  // whose teardown asks the main loop to cancel something.
  MainLoop* self = this;
  if (MainLoop::Main() == self) MainLoop::SetMain(nullptr);
  Quit();
  for (;;) {
    std::deque<Posted> queue;
    std::map<std::pair<Clock::time_point, TimerId>, Task> timers;
    std::map<WatchId, Watch> watches;
    std::vector<Task> endOfPass;
    {
      std::lock_guard lock(impl_->mutex);
      queue.swap(impl_->queue);
      timers.swap(impl_->timers);
      impl_->timerDeadlines.clear();
      watches.swap(impl_->watches);
      endOfPass.swap(impl_->endOfPass);
    }
    if (queue.empty() && timers.empty() && watches.empty() && endOfPass.empty()) break;
    // Pending end-of-pass tasks are deferred releases: run them so nothing leaks.
    for (Task& task : endOfPass) task();
  }
}

void PollMainLoop::Run() {
  while (!impl_->stopping.load()) RunOnce(-1);
}

bool PollMainLoop::RunOnce(double timeoutSeconds) {
  Impl& d = *impl_;
  d.mainThread.store(std::this_thread::get_id());

  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  fds.push_back({d.wakeFd, POLLIN, 0});
  {
    std::lock_guard lock(d.mutex);
    for (const auto& [id, watch] : d.watches) {
      fds.push_back({watch.fd, POLLIN, 0});
      ids.push_back(id);
    }
  }
  int timeoutMs = d.PollTimeoutMs(timeoutSeconds);
  if (d.wakeFd < 0 && (timeoutMs < 0 || timeoutMs > 10)) timeoutMs = 10;
  const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
  if (ready < 0 && errno != EINTR) {
    WriteDiagnosticLine(std::string("Main loop: poll failed: ") + std::strerror(errno));
  }
  if (ready > 0 && fds[0].revents != 0) d.DrainWake();

  bool served = false;
  if (ready > 0) served |= d.ServeDescriptors(fds, ids);
  served |= d.ServeTimers();
  served |= d.ServePosted();
  served |= d.ServeEndOfPass();
  d.passes.fetch_add(1, std::memory_order_relaxed);
  return served;
}

bool PollMainLoop::RunUntil(const std::function<bool()>& done, double timeoutSeconds) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
  while (!done()) {
    const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (left <= 0) return done();
    RunOnce(left);
  }
  return true;
}

void PollMainLoop::Quit() {
  {
    // Set under the lock so that no PostAndWait queues itself after this.
    std::lock_guard lock(impl_->mutex);
    impl_->stopping.store(true);
    impl_->AbandonWaitersLocked();
  }
  impl_->Wake();
}

void PollMainLoop::Post(Task task) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->queue.push_back({std::move(task), nullptr});
  }
  impl_->Wake();
}

bool PollMainLoop::PostAndWait(Task task) {
  if (IsMainThread()) {
    task();
    return true;
  }
  const std::shared_ptr<Impl> keep = impl_;
  Impl& d = *keep;
  auto waiter = std::make_shared<Waiter>();
  std::unique_lock lock(d.mutex);
  if (d.stopping.load()) return false;
  d.queue.push_back({std::move(task), waiter});
  d.Wake();
  d.waitersChanged.wait(lock, [&] {
    return waiter->state == WaitState::Done || waiter->state == WaitState::Abandoned;
  });
  return waiter->state == WaitState::Done;
}

MainLoop::TimerId PollMainLoop::AddTimer(double seconds, Task task) {
  if (!(seconds > 0)) seconds = 0;  // also catches NaN
  const auto delay = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::min(seconds, 1e9)));
  const Clock::time_point deadline = Clock::now() + delay;
  TimerId id;
  {
    std::lock_guard lock(impl_->mutex);
    id = impl_->nextId++;
    impl_->timers.emplace(std::make_pair(deadline, id), std::move(task));
    impl_->timerDeadlines.emplace(id, deadline);
  }
  impl_->Wake();
  return id;
}

void PollMainLoop::CancelTimer(TimerId id) {
  Task dropped;  // destroyed after the lock is released: it may own objects whose teardown calls back in
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->timerDeadlines.find(id);
  if (it == impl_->timerDeadlines.end()) return;
  auto timer = impl_->timers.find(std::make_pair(it->second, id));
  dropped = std::move(timer->second);
  impl_->timers.erase(timer);
  impl_->timerDeadlines.erase(it);
}

MainLoop::WatchId PollMainLoop::WatchReadable(int fd, Task task) {
  WatchId id;
  {
    std::lock_guard lock(impl_->mutex);
    id = impl_->nextId++;
    impl_->watches.emplace(id, Watch{fd, std::move(task)});
  }
  impl_->Wake();  // the loop may be blocked in poll without this descriptor
  return id;
}

void PollMainLoop::Unwatch(WatchId id) {
  Task dropped;  // destroyed after the lock is released
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->watches.find(id);
    if (it == impl_->watches.end()) return;
    dropped = std::move(it->second.task);
    impl_->watches.erase(it);
  }
  impl_->Wake();
}

void PollMainLoop::AtEndOfPass(Task task) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->endOfPass.push_back(std::move(task));
  }
  impl_->Wake();
}

std::uint64_t PollMainLoop::PassCount() const { return impl_->passes.load(std::memory_order_relaxed); }

bool PollMainLoop::IsMainThread() const {
  return impl_->mainThread.load() == std::this_thread::get_id();
}

bool PollMainLoop::IsStopping() const { return impl_->stopping.load(); }

}  // namespace vantorel
