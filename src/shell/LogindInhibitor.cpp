#include "shell/LogindInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cstring>

namespace vantorel {

namespace {

int GoingDownSignal(sd_bus_message* message, void* self, sd_bus_error*) {
  int starting = 0;
  if (sd_bus_message_read(message, "b", &starting) < 0) return 0;
  const char* member = sd_bus_message_get_member(message);
  static_cast<LogindInhibitor*>(self)->Heard(member != nullptr && std::strcmp(member, "PrepareForSleep") == 0,
                                             starting != 0);
  return 0;
}

}  // namespace

LogindInhibitor::~LogindInhibitor() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool LogindInhibitor::Connect(std::string* problem) {
  if (bus_ != nullptr) return true;
  const int result = sd_bus_open_system(&bus_);
  if (result < 0) {
    bus_ = nullptr;
    *problem = std::string("no system bus (") + std::strerror(-result) + ")";
    return false;
  }
  return true;
}

bool LogindInhibitor::WatchGoingDown(std::function<void(bool sleep, bool starting)> heard) {
  if (bus_ == nullptr) return false;
  heard_ = std::move(heard);
  for (const char* member : {"PrepareForShutdown", "PrepareForSleep"})
    if (sd_bus_match_signal(bus_, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", member, &GoingDownSignal, this) < 0)
      return false;
  return true;
}

int LogindInhibitor::Fd() const { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }

void LogindInhibitor::Process() {
  if (bus_ == nullptr) return;
  while (sd_bus_process(bus_, nullptr) > 0) {
  }
}

int LogindInhibitor::Inhibit(const std::string& what, const std::string& who, const std::string& why,
                             const std::string& mode, std::string* problem) {
  if (bus_ == nullptr && !Connect(problem)) return -1;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int result = sd_bus_call_method(bus_, "org.freedesktop.login1", "/org/freedesktop/login1",
                                  "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss", what.c_str(),
                                  who.c_str(), why.c_str(), mode.c_str());
  int fd = -1;
  if (result < 0) {
    *problem = error.message != nullptr ? error.message : std::strerror(-result);
  } else {
    int borrowed = -1;
    result = sd_bus_message_read(reply, "h", &borrowed);
    // The message owns its descriptor: a copy of it outlives the message.
    if (result >= 0 && borrowed >= 0) fd = ::fcntl(borrowed, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) *problem = "logind's answer held no lock";
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return fd;
}

}  // namespace vantorel
