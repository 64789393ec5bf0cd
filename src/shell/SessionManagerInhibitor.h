#pragma once
// The GNOME session manager's own inhibitor (org.gnome.SessionManager's
// Inhibit, on the session bus) for logging out: while held, the log-out and
// shutdown dialogs ask first and name the program and its reason. Held by a
// cookie, let go with Uninhibit (or when the connection closes). Where no
// such session manager runs (other desktops, a server), nothing is held and
// nothing is said: logind's lock covers the machine's shutdown there.
//
// Threads: one object per thread (sd-bus connections are not shared).

#include <cstdint>
#include <string>

struct sd_bus;

namespace vantorel {

class SessionManagerInhibitor {
public:
  SessionManagerInhibitor() = default;
  ~SessionManagerInhibitor();
  SessionManagerInhibitor(const SessionManagerInhibitor&) = delete;
  SessionManagerInhibitor& operator=(const SessionManagerInhibitor&) = delete;

  // Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS, else the usual
  // socket); false where there is none.
  bool Connect();
  // Logging out held for `reason`; `appId` names the menu entry whose name
  // and icon the dialog shows. The cookie, or 0 when no session manager
  // answers.
  std::uint32_t InhibitLogOut(const std::string& appId, const std::string& reason);
  void Uninhibit(std::uint32_t cookie);

private:
  sd_bus* bus_ = nullptr;
};

}  // namespace vantorel
