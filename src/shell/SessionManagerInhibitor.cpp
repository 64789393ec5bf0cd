#include "shell/SessionManagerInhibitor.h"

#include <systemd/sd-bus.h>

namespace vantorel {

namespace {

constexpr const char* kName = "org.gnome.SessionManager";
constexpr const char* kPath = "/org/gnome/SessionManager";
// Inhibit's flag for logging out (2 is switching users, 4 suspending).
constexpr std::uint32_t kLogOut = 1;
// A session manager that does not answer soon is taken as none: the
// guard's thread must stay free to let go of its locks.
constexpr std::uint64_t kCallTimeoutUsec = 2'000'000;

// A call that never starts a service to answer it.
int Call(sd_bus* bus, const char* member, sd_bus_message** reply, const char* types, auto... values) {
  sd_bus_message* call = nullptr;
  int result = sd_bus_message_new_method_call(bus, &call, kName, kPath, kName, member);
  if (result >= 0) result = sd_bus_message_append(call, types, values...);
  if (result >= 0) result = sd_bus_message_set_auto_start(call, 0);
  if (result >= 0) result = sd_bus_call(bus, call, kCallTimeoutUsec, nullptr, reply);
  sd_bus_message_unref(call);
  return result;
}

}  // namespace

SessionManagerInhibitor::~SessionManagerInhibitor() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool SessionManagerInhibitor::Connect() {
  if (bus_ != nullptr) return true;
  if (sd_bus_open_user(&bus_) < 0) bus_ = nullptr;
  return bus_ != nullptr;
}

std::uint32_t SessionManagerInhibitor::InhibitLogOut(const std::string& appId, const std::string& reason) {
  if (bus_ == nullptr) return 0;
  sd_bus_message* reply = nullptr;
  std::uint32_t cookie = 0;
  // No window to name (0): the dialog lists the program by its menu entry.
  if (Call(bus_, "Inhibit", &reply, "susu", appId.c_str(), std::uint32_t{0}, reason.c_str(), kLogOut) < 0 ||
      sd_bus_message_read(reply, "u", &cookie) < 0)
    cookie = 0;
  sd_bus_message_unref(reply);
  return cookie;
}

void SessionManagerInhibitor::Uninhibit(std::uint32_t cookie) {
  if (bus_ == nullptr || cookie == 0) return;
  sd_bus_message* reply = nullptr;
  Call(bus_, "Uninhibit", &reply, "u", cookie);
  sd_bus_message_unref(reply);
}

}  // namespace vantorel
