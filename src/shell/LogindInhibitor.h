#pragma once
// Inhibitor locks of logind (org.freedesktop.login1.Manager.Inhibit) over
// the system bus, with sd-bus: while the descriptor a lock returns is open,
// the desktop's shutdown (or sleep) waits, and its dialog names the holder
// and the reason; closing it lets go.
//
// Threads: one object per thread (sd-bus connections are not shared).

#include <string>

struct sd_bus;

namespace vantorel {

class LogindInhibitor {
public:
  LogindInhibitor() = default;
  ~LogindInhibitor();
  LogindInhibitor(const LogindInhibitor&) = delete;
  LogindInhibitor& operator=(const LogindInhibitor&) = delete;

  // Connects to the system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the usual
  // socket); false, with `problem` set, when there is none.
  bool Connect(std::string* problem);
  // A lock: `what` "shutdown" or "sleep", `mode` "block" or "delay". Its
  // descriptor (the caller closes it to let go), or -1 with `problem` set.
  int Inhibit(const std::string& what, const std::string& who, const std::string& why, const std::string& mode,
              std::string* problem);

private:
  sd_bus* bus_ = nullptr;
};

}  // namespace vantorel
