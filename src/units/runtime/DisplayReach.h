#pragma once
// Whether a graphical session can be reached: a Wayland socket, or an X
// display (a local one is tried; a remote one is trusted). Asked before any
// toolkit is loaded, so that a terminal session never pays for one.

namespace vantorel {

bool CanReachDisplay();

}  // namespace vantorel
