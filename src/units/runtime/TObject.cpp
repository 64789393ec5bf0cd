#include "units/runtime/TObject.h"

#include <mutex>
#include <vector>

#include "units/runtime/MainLoop.h"

namespace vantorel {

struct WeakControl {
  TObject* object = nullptr;  // null once the object is going away
};

namespace {
// Guards every object's `weak_` and every WeakControl::object. Weak handles
// are few (observers), so one lock is enough.
std::mutex gWeakMutex;

thread_local TAutoreleasePool* tCurrentPool = nullptr;

// References autoreleased on a thread that has neither a pool nor a main loop
// to hand them to; given up when the thread ends.
struct ThreadLeftovers {
  std::vector<TObject*> objects;
  ~ThreadLeftovers() {
    for (TObject* object : objects) object->Release();
  }
};
thread_local ThreadLeftovers tLeftovers;
}  // namespace

TObject::~TObject() = default;

void TObject::Retain() const { count_.fetch_add(1, std::memory_order_relaxed); }

void TObject::Release() const {
  if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) const_cast<TObject*>(this)->Deallocate();
}

bool TObject::TryRetain() const {
  std::int32_t count = count_.load(std::memory_order_relaxed);
  while (count > 0) {
    if (count_.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
  }
  return false;
}

void TObject::Deallocate() {
  {
    std::lock_guard lock(gWeakMutex);
    if (weak_) weak_->object = nullptr;
  }
  delete this;
}

TObject* TObject::Autorelease() {
  if (tCurrentPool != nullptr) {
    tCurrentPool->Add(this);
  } else if (MainLoop* loop = MainLoop::Main()) {
    loop->AtEndOfPass([this] { Release(); });
  } else {
    tLeftovers.objects.push_back(this);
  }
  return this;
}

std::shared_ptr<WeakControl> WeakControlOf(TObject* object) {
  std::lock_guard lock(gWeakMutex);
  if (!object->weak_) {
    object->weak_ = std::make_shared<WeakControl>();
    object->weak_->object = object;
  }
  return object->weak_;
}

TObject* RetainIfAlive(const std::shared_ptr<WeakControl>& control) {
  std::lock_guard lock(gWeakMutex);
  if (control->object != nullptr && control->object->TryRetain()) return control->object;
  return nullptr;
}

struct TAutoreleasePool::Entries {
  std::vector<TObject*> objects;
};

TAutoreleasePool::TAutoreleasePool() : entries_(std::make_unique<Entries>()), outer_(tCurrentPool) {
  tCurrentPool = this;
}

TAutoreleasePool::~TAutoreleasePool() {
  tCurrentPool = outer_;
  // A release may autorelease more; those go to the outer pool (or the loop).
  for (TObject* object : entries_->objects) object->Release();
}

void TAutoreleasePool::Add(TObject* object) { entries_->objects.push_back(object); }

}  // namespace vantorel
