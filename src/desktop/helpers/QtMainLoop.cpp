#include "desktop/helpers/QtMainLoop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vantorel {

namespace {

// One PostAndWait: the waiting thread and the main thread meet here.
struct Waiter {
  std::mutex mutex;  // guards the three flags
  std::condition_variable changed;
  bool started = false;
  bool done = false;
  bool abandoned = false;
};

// Receives the end-of-pass call. It is posted at low priority, so Qt
// delivers it after every normal-priority call already queued.
class EndOfPassReceiver final : public QObject {
public:
  EndOfPassReceiver(QObject* parent, std::function<void()> run) : QObject(parent), run_(std::move(run)) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }

protected:
  bool event(QEvent* e) override {
    if (e->type() != Type()) return QObject::event(e);
    run_();
    return true;
  }

private:
  std::function<void()> run_;
};

}  // namespace

struct QtMainLoop::Impl : std::enable_shared_from_this<Impl> {
  // Lives on the GUI thread; owns the timers and notifiers, and is the
  // receiver of every posted call (deleting it drops those not yet run).
  // Set and cleared on the main thread, under `mutex` (other threads post to it).
  QObject* context = nullptr;
  QObject* endOfPassReceiver = nullptr;  // a child of `context`
  QThread* mainThread = nullptr;
  std::atomic<bool> stopping{false};

  // `mutex` guards everything below.
  std::mutex mutex;
  std::uint64_t nextId = 1;
  struct Timer {
    Task task;
    QTimer* timer = nullptr;  // once made on the main thread
  };
  std::unordered_map<TimerId, Timer> timers;
  struct Watch {
    Task task;
    QSocketNotifier* notifier = nullptr;
  };
  std::unordered_map<WatchId, Watch> watches;
  std::vector<Task> endOfPass;
  std::unordered_set<std::shared_ptr<Waiter>> waiters;

  bool OnMainThread() const { return QThread::currentThread() == mainThread; }

  // Runs `call` on the main thread, after what is queued already; false once
  // the loop has gone.
  bool Queue(std::function<void()> call) {
    std::lock_guard lock(mutex);
    if (context == nullptr) return false;
    return QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
  }

  // Runs `make` on the main thread: now when already there, else queued
  // (timers and notifiers must be made on the thread that serves them).
  void OnMain(std::function<void(Impl&)> make) {
    if (OnMainThread()) {
      make(*this);
      return;
    }
    std::weak_ptr<Impl> weak = weak_from_this();
    Queue([weak, make = std::move(make)] {
      if (auto self = weak.lock()) make(*self);
    });
  }

  void FireTimer(TimerId id) {
    Task task;
    QTimer* timer = nullptr;
    {
      std::lock_guard lock(mutex);
      auto it = timers.find(id);
      if (it == timers.end()) return;
      task = std::move(it->second.task);
      timer = it->second.timer;
      timers.erase(it);
    }
    if (timer) timer->deleteLater();
    task();
  }

  void MakeTimer(TimerId id, int milliseconds) {
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    {
      std::lock_guard lock(mutex);
      auto it = timers.find(id);
      if (it == timers.end()) {  // cancelled before it was made
        delete timer;
        return;
      }
      it->second.timer = timer;
    }
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(timer, &QTimer::timeout, context, [weak, id] {
      if (auto self = weak.lock()) self->FireTimer(id);
    });
    timer->start(milliseconds);
  }

  void ServeWatch(WatchId id) {
    Task task;
    {
      std::lock_guard lock(mutex);
      auto it = watches.find(id);
      if (it == watches.end()) return;
      task = it->second.task;  // a copy: the task may unwatch itself
    }
    task();
  }

  void MakeWatch(WatchId id, int fd) {
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, context);
    {
      std::lock_guard lock(mutex);
      auto it = watches.find(id);
      if (it == watches.end()) {  // unwatched before it was made
        delete notifier;
        return;
      }
      it->second.notifier = notifier;
    }
    std::weak_ptr<Impl> weak = weak_from_this();
    QObject::connect(notifier, &QSocketNotifier::activated, context, [weak, id] {
      if (auto self = weak.lock()) self->ServeWatch(id);
    });
  }

  void RunEndOfPass() {
    std::vector<Task> due;
    {
      std::lock_guard lock(mutex);
      due.swap(endOfPass);
    }
    for (Task& task : due) task();
  }

  void Stop() {
    stopping = true;
    std::unordered_set<std::shared_ptr<Waiter>> abandon;
    {
      std::lock_guard lock(mutex);
      abandon.swap(waiters);
    }
    for (const auto& waiter : abandon) {
      std::lock_guard lock(waiter->mutex);
      if (!waiter->started) waiter->abandoned = true;
      waiter->changed.notify_all();
    }
  }
};

QtMainLoop::QtMainLoop() : impl_(std::make_shared<Impl>()) {
  impl_->mainThread = QThread::currentThread();
  impl_->context = new QObject();
  std::weak_ptr<Impl> weak = impl_;
  impl_->endOfPassReceiver = new EndOfPassReceiver(impl_->context, [weak] {
    if (auto self = weak.lock()) self->RunEndOfPass();
  });
  if (auto* app = QCoreApplication::instance())
    QObject::connect(app, &QCoreApplication::aboutToQuit, impl_->context, [weak] {
      if (auto self = weak.lock()) self->Stop();
    });
}

QtMainLoop::~QtMainLoop() {
  impl_->Stop();
  // Tasks still queued for the end of a pass are released, not run: the
  // objects they would release must not outlive the loop unnoticed.
  std::vector<Task> pending;
  {
    std::lock_guard lock(impl_->mutex);
    pending.swap(impl_->endOfPass);
    impl_->timers.clear();
    impl_->watches.clear();
  }
  for (Task& task : pending) task();
  QObject* context;
  {
    std::lock_guard lock(impl_->mutex);
    context = std::exchange(impl_->context, nullptr);
  }
  delete context;  // its timers, notifiers and queued calls with it
}

void QtMainLoop::Quit() {
  impl_->Stop();
  QCoreApplication::quit();
}

void QtMainLoop::Post(Task task) {
  impl_->Queue(std::move(task));
}

bool QtMainLoop::PostAndWait(Task task) {
  // The loop object may be destroyed while this thread waits: everything
  // below goes through a reference of this thread's own.
  const std::shared_ptr<Impl> impl = impl_;
  if (impl->OnMainThread()) {
    task();
    return true;
  }
  if (impl->stopping.load()) return false;
  auto waiter = std::make_shared<Waiter>();
  {
    std::lock_guard lock(impl->mutex);
    impl->waiters.insert(waiter);
  }
  if (impl->stopping.load()) impl->Stop();  // stopped meanwhile: abandon at once
  const bool queued = impl->Queue([waiter, task = std::move(task)] {
    {
      std::lock_guard lock(waiter->mutex);
      if (waiter->abandoned) return;
      waiter->started = true;
    }
    task();
    std::lock_guard lock(waiter->mutex);
    waiter->done = true;
    waiter->changed.notify_all();
  });
  bool ran = false;
  if (queued) {
    std::unique_lock lock(waiter->mutex);
    waiter->changed.wait(lock, [&] { return waiter->done || waiter->abandoned; });
    ran = waiter->done;
  }
  std::lock_guard lock(impl->mutex);
  impl->waiters.erase(waiter);
  return ran;
}

MainLoop::TimerId QtMainLoop::AddTimer(double seconds, Task task) {
  const int milliseconds = static_cast<int>(std::ceil(std::max(0.0, std::min(seconds, 2.0e6)) * 1000.0));
  TimerId id;
  {
    std::lock_guard lock(impl_->mutex);
    id = impl_->nextId++;
    impl_->timers[id].task = std::move(task);
  }
  impl_->OnMain([id, milliseconds](Impl& loop) { loop.MakeTimer(id, milliseconds); });
  return id;
}

void QtMainLoop::CancelTimer(TimerId id) {
  QTimer* timer = nullptr;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->timers.find(id);
    if (it == impl_->timers.end()) return;
    timer = it->second.timer;
    impl_->timers.erase(it);
  }
  if (timer == nullptr) return;  // never made: its making finds it gone
  if (impl_->OnMainThread()) {
    timer->stop();
    timer->deleteLater();
  } else {
    QMetaObject::invokeMethod(timer, &QObject::deleteLater, Qt::QueuedConnection);
  }
}

MainLoop::WatchId QtMainLoop::WatchReadable(int fd, Task task) {
  WatchId id;
  {
    std::lock_guard lock(impl_->mutex);
    id = impl_->nextId++;
    impl_->watches[id].task = std::move(task);
  }
  impl_->OnMain([id, fd](Impl& loop) { loop.MakeWatch(id, fd); });
  return id;
}

void QtMainLoop::Unwatch(WatchId id) {
  QSocketNotifier* notifier = nullptr;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->watches.find(id);
    if (it == impl_->watches.end()) return;
    notifier = it->second.notifier;
    impl_->watches.erase(it);
  }
  if (notifier == nullptr) return;
  // Possibly from inside its own activation: disabled now, deleted later.
  if (impl_->OnMainThread()) {
    notifier->setEnabled(false);
    notifier->deleteLater();
  } else {
    QMetaObject::invokeMethod(
        notifier,
        [notifier] {
          notifier->setEnabled(false);
          notifier->deleteLater();
        },
        Qt::QueuedConnection);
  }
}

void QtMainLoop::AtEndOfPass(Task task) {
  bool first;
  {
    std::lock_guard lock(impl_->mutex);
    first = impl_->endOfPass.empty();
    impl_->endOfPass.push_back(std::move(task));
  }
  // Behind everything of normal priority queued by the time it is delivered.
  if (first)
    QCoreApplication::postEvent(impl_->endOfPassReceiver, new QEvent(EndOfPassReceiver::Type()), Qt::LowEventPriority);
}

bool QtMainLoop::IsMainThread() const { return impl_->OnMainThread(); }

bool QtMainLoop::IsStopping() const { return impl_->stopping.load(); }

}  // namespace vantorel
