#pragma once
// What the control socket's requests mean: the state of the tracker as a
// line or as JSON (once, or at every change), waiting until nothing is
// moving, and the few commands a script or a second launch may give.
// Answers are one line each: "ok" and what was asked for, or "error" and
// why. Main thread only.
//
//   status [json]       the status line, or the state as one JSON object
//   follow [json]       the same now and at every change, until the peer leaves
//   wait-idle [uploads] "ok idle" once nothing is in progress and no
//                       received-download batch is open (with "uploads":
//                       once no upload is in progress or waiting)
//   open | preferences  the popover (toggled) or the preferences window
//   rescan [PATH]       a rescan of the watched folder, or of PATH
//   quit                an orderly quit
//   ping                "ok" (is anyone there?)

#include <map>
#include <set>
#include <string>

#include "units/runtime/ControlSocket.h"

namespace vantorel {

class TAppController;

class ControlService {
public:
  // Answers on `socket` from now on, on the main loop.
  ControlService(TAppController& controller, ControlSocket& socket);
  ~ControlService();
  ControlService(const ControlService&) = delete;
  ControlService& operator=(const ControlService&) = delete;

  void Request(ControlSocket::ConnectionId id, const std::string& line);
  // The tracker's state changed: followers and waiters hear of it.
  void StatusChanged();

  std::string StatusLine() const;
  std::string StatusJson() const;
  bool IsIdle(bool uploadsOnly = false) const;

private:
  void Closed(ControlSocket::ConnectionId id);
  void AnswerWaiters();
  void KeepCheckingWaiters();
  // While transfers are in progress, followers hear of their percentages
  // once a second (the status itself may not change meanwhile).
  void KeepFollowing();

  TAppController& controller_;
  ControlSocket& socket_;
  // Followers and what they were last told (sent again only when it changed).
  std::map<ControlSocket::ConnectionId, std::pair<bool, std::string>> followers_;
  std::map<ControlSocket::ConnectionId, bool> waiters_;  // → waits for uploads only
  MainLoop::TimerId waiterTimer_ = 0;
  bool waiterTimerSet_ = false;
  MainLoop::TimerId followTimer_ = 0;
  bool followTimerSet_ = false;
};

}  // namespace vantorel
