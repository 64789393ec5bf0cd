#pragma once
// The reference-counted root of the program's own objects, and the handles
// that own (TRef) or observe (TWeak) them.
//
// An object starts with one reference, owned by whoever made it (MakeRef
// hands that reference to a TRef). The count is atomic: references may be
// taken and given up on any thread. When the last one goes, Deallocate runs;
// a subclass that owns something releases it there and then calls
// TObject::Deallocate, which destroys the object.
//
// Only TRef, TWeak and the autorelease pools call Retain and Release.

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

namespace vantorel {

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  void Retain() const;
  void Release() const;
  // Gives up one reference later: at the end of the innermost autorelease
  // pool of this thread, or, without one, at the end of the current pass of
  // the main loop. Returns this object.
  TObject* Autorelease();
  std::int32_t RetainCount() const { return count_.load(std::memory_order_relaxed); }

  // Takes a reference only while the object is still alive (count above 0).
  bool TryRetain() const;

protected:
  virtual ~TObject();
  virtual void Deallocate();

private:
  friend struct WeakControl;
  mutable std::atomic<std::int32_t> count_{1};
  // Shared with the TWeak handles made of this object; guarded by a global lock.
  std::shared_ptr<struct WeakControl> weak_;
  friend std::shared_ptr<WeakControl> WeakControlOf(TObject* object);
};

template <typename T>
class TRef {
public:
  TRef() = default;
  TRef(std::nullptr_t) {}
  // Shares the object: takes a reference of its own.
  explicit TRef(T* object) : object_(object) {
    if (object_) object_->Retain();
  }
  // Takes over a reference the caller already holds.
  static TRef Adopt(T* object) {
    TRef ref;
    ref.object_ = object;
    return ref;
  }
  TRef(const TRef& other) : TRef(other.object_) {}
  TRef(TRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TRef(const TRef<U>& other) : TRef(other.get()) {}
  TRef& operator=(TRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~TRef() {
    if (object_) object_->Release();
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() { TRef().swap(*this); }
  void swap(TRef& other) noexcept { std::swap(object_, other.object_); }
  // Gives the reference up to the caller, who must balance it.
  T* Leak() { return std::exchange(object_, nullptr); }

  bool operator==(const TRef& other) const { return object_ == other.object_; }

private:
  T* object_ = nullptr;
};

template <typename T, typename... Args>
TRef<T> MakeRef(Args&&... args) {
  return TRef<T>::Adopt(new T(std::forward<Args>(args)...));
}

struct WeakControl;
std::shared_ptr<WeakControl> WeakControlOf(TObject* object);
// A reference to the object if it is still alive, else null.
TObject* RetainIfAlive(const std::shared_ptr<WeakControl>& control);

// Observes an object without keeping it alive.
template <typename T>
class TWeak {
public:
  TWeak() = default;
  explicit TWeak(T* object) : control_(object ? WeakControlOf(object) : nullptr) {}
  TRef<T> Lock() const {
    if (!control_) return {};
    return TRef<T>::Adopt(static_cast<T*>(RetainIfAlive(control_)));
  }
  bool IsSet() const { return control_ != nullptr; }

private:
  std::shared_ptr<WeakControl> control_;
};

// Holds the references autoreleased on this thread while it lives and gives
// them up when it ends. Pools nest.
class TAutoreleasePool {
public:
  TAutoreleasePool();
  ~TAutoreleasePool();
  TAutoreleasePool(const TAutoreleasePool&) = delete;
  TAutoreleasePool& operator=(const TAutoreleasePool&) = delete;
  void Add(TObject* object);

private:
  struct Entries;
  std::unique_ptr<Entries> entries_;
  TAutoreleasePool* outer_;
};

// Keeps `object` alive for as long as the returned holder lives, when it is
// one of the program's objects; plain objects are simply not owned.
template <typename T>
auto KeepAlive(T* object) {
  if constexpr (std::is_base_of_v<TObject, T>)
    return TRef<T>(object);
  else
    return object;
}

}  // namespace vantorel
