#include "units/runtime/TNotificationCenter.h"

#include <algorithm>

#include "units/runtime/Diagnostics.h"

namespace vantorel {

TNotificationCenter* TNotificationCenter::DefaultCenter() {
  // Made once and kept for the whole process.
  static TNotificationCenter* center = MakeRef<TNotificationCenter>().Leak();
  return center;
}

void TNotificationCenter::AddHandler(TObject* observer, const std::string& name, const TObject* postingObject,
                                     TNotificationHandler::Action action) {
  auto handler = MakeRef<TNotificationHandler>(std::move(action), observer, name, postingObject);
  std::lock_guard lock(mutex_);
  handlers_.push_back(std::move(handler));
}

void TNotificationCenter::PostNotification(const std::string& name, TObject* object,
                                           const PlistValue::Dictionary* userInfo) {
  std::vector<TRef<TNotificationHandler>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& handler : handlers_)
      if (handler->Name() == name && handler->Accepts(object)) matching.push_back(handler);
  }
  // Called without the lock: a method may observe, post or remove in turn.
  for (const auto& handler : matching) {
    TRef<TObject> target = handler->Target();
    if (!target) {
      WriteDiagnosticLine("F**** warning: NotificationToMethodCallback handler has nil target for " + name);
      continue;
    }
    PlistValue::Dictionary info = userInfo ? *userInfo : PlistValue::Dictionary{{"notification", PlistValue(name)}};
    auto notification = MakeRef<TNotification>(name, TRef<TObject>(object), std::move(info));
    handler->Call(target.get(), notification.get());
  }
}

void TNotificationCenter::RemoveObserver(const TObject* observer, const std::string& name) {
  std::lock_guard lock(mutex_);
  std::erase_if(handlers_, [&](const auto& h) { return h->IsFor(observer) && h->Name() == name; });
}

void TNotificationCenter::RemoveEveryObserver(const TObject* observer) {
  std::lock_guard lock(mutex_);
  std::erase_if(handlers_, [&](const auto& h) { return h->IsFor(observer); });
}

bool TNotificationCenter::IsObserving(const TObject* observer, const std::string& name) const {
  std::lock_guard lock(mutex_);
  return std::any_of(handlers_.begin(), handlers_.end(),
                     [&](const auto& h) { return h->IsFor(observer) && h->Name() == name; });
}

}  // namespace vantorel
