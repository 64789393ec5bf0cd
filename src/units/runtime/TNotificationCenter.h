#pragma once
// In-process notifications by name: observers have one of their methods
// called, synchronously and on the posting thread, for each notification
// posted under a name they observe.
//
// Observers are not kept alive by the center: one that has gone is skipped
// with a warning line. Every member is safe from any thread.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "units/prefs/PlistValue.h"
#include "units/runtime/TObject.h"

namespace vantorel {

// What an observer's method receives: the name, the posting object, and the
// posted user-info entries (without any, the name under "notification").
class TNotification : public TObject {
public:
  TNotification(std::string name, TRef<TObject> object, PlistValue::Dictionary userInfo)
      : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}
  const std::string& Name() const { return name_; }
  TObject* Object() const { return object_.get(); }
  const PlistValue::Dictionary& UserInfo() const { return userInfo_; }

private:
  std::string name_;
  TRef<TObject> object_;
  PlistValue::Dictionary userInfo_;
};

// One registration: the method, its observer (not owned) and the name.
class TNotificationHandler : public TObject {
public:
  using Action = std::function<void(TObject* target, TNotification* notification)>;
  TNotificationHandler(Action action, TObject* target, std::string name, const TObject* postingObject)
      : action_(std::move(action)),
        target_(target),
        observerIdentity_(target),
        name_(std::move(name)),
        postingObject_(postingObject) {}

  const std::string& Name() const { return name_; }
  TRef<TObject> Target() const { return target_.Lock(); }
  bool IsFor(const TObject* observer) const { return observerIdentity_ == observer; }
  // Whether a notification posted with `object` is for this registration.
  bool Accepts(const TObject* object) const { return postingObject_ == nullptr || postingObject_ == object; }
  void Call(TObject* target, TNotification* notification) const { action_(target, notification); }

private:
  Action action_;
  TWeak<TObject> target_;
  const TObject* observerIdentity_;  // for removal, also after the observer has gone
  std::string name_;
  const TObject* postingObject_;  // compared by identity only
};

class TNotificationCenter : public TObject {
public:
  // The process's center; the reachability notification is posted on it.
  static TNotificationCenter* DefaultCenter();

  // Calls `method(notification)` on `observer` for every notification named
  // `name` (posted by `postingObject` only, when one is given).
  template <typename T>
  void ObserveNotification(T* observer, const std::string& name, void (T::*method)(TNotification*),
                           const TObject* postingObject = nullptr) {
    static_assert(std::is_base_of_v<TObject, T>, "observers are the program's objects");
    AddHandler(observer, name, postingObject, [method](TObject* target, TNotification* notification) {
      (static_cast<T*>(target)->*method)(notification);
    });
  }

  void PostNotification(const std::string& name, TObject* object = nullptr,
                        const PlistValue::Dictionary* userInfo = nullptr);
  void RemoveObserver(const TObject* observer, const std::string& name);
  void RemoveEveryObserver(const TObject* observer);
  bool IsObserving(const TObject* observer, const std::string& name) const;

private:
  void AddHandler(TObject* observer, const std::string& name, const TObject* postingObject,
                  TNotificationHandler::Action action);

  mutable std::mutex mutex_;  // guards handlers_
  std::vector<TRef<TNotificationHandler>> handlers_;
};

}  // namespace vantorel
