// The display going away under the window.
//
// Xlib ends the process with its own message when the connection to the X
// server breaks, and when a request fails, say on a window destroyed from
// outside. Since libX11 1.7 the end of a broken connection may be left to
// the application: the window then counts as closed by the user (the sweep
// ends as on a key) and SDL is not asked about it again. With an older Xlib
// the program ends at once, in order.
#pragma once

struct SDL_Window;

namespace graph {

// Watches `window` (when it is on X11): `loseWindow` runs when the window or
// its display goes away.
void WatchDisplay(SDL_Window *window, void (*loseWindow)());

} // namespace graph
