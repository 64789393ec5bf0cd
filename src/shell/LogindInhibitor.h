#pragma once
// Inhibitor locks of logind (org.freedesktop.login1.Manager.Inhibit) over
// the system bus, with sd-bus: while the descriptor a lock returns is open,
// the desktop's shutdown (or sleep) waits, and its dialog names the holder
// and the reason; closing it lets go.
//
// Threads: one object per thread (sd-bus connections are not shared).

#include <functional>
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

  // From now on, `heard` runs (in Process) for logind's PrepareForShutdown
  // and PrepareForSleep signals: whether it is sleep, and whether it is
  // about to happen (true) or over (false).
  bool WatchGoingDown(std::function<void(bool sleep, bool starting)> heard);
  // The connection's descriptor to poll for input (-1 without one), and
  // the handling of what arrived.
  int Fd() const;
  void Process();

  // What a signal said (the bus's callback calls it).
  void Heard(bool sleep, bool starting) {
    if (heard_) heard_(sleep, starting);
  }

private:
  sd_bus* bus_ = nullptr;
  std::function<void(bool, bool)> heard_;
};

}  // namespace vantorel
