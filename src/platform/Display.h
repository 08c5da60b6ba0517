// Display: whether the session has a display the windows can open, checked without loading a
// toolkit (a toolkit that cannot reach its display stops the program).
#pragma once

namespace vandora {

// True for a Wayland session, an X display whose local socket answers, a remote X display, or a
// toolkit platform named in QT_QPA_PLATFORM that needs no display server (offscreen, vnc...).
bool displayAvailable();

}  // namespace vandora
