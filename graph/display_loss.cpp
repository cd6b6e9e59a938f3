#include "graph/display_loss.hpp"

#include <dlfcn.h>

#include "runtime/console.hpp"
#include "runtime/fault.hpp"

// Last: the X11 headers it brings define macros (None, Bool, Status) that
// would clash with names of the headers above.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

namespace graph {

namespace {

Window watchedWindow = 0;
void (*onLoss)() = nullptr;
bool connectionLossSurvivable = false;

void Lose() {
  if (onLoss)
    onLoss();
}

// A failed request about the window means it is gone; any other failed
// request is let pass (it changed nothing) and the run goes on.
int OnXError(Display *, XErrorEvent *e) {
  if (e->resourceid == watchedWindow)
    Lose();
  return 0;
}

void OnXConnectionGone(Display *, void *) {
  Lose();
}

int OnXConnectionLost(Display *) {
  if (connectionLossSurvivable)
    return 0; // OnXConnectionGone follows
  Lose();
  zanfel::WriteMessageLine("Display lost");
  zanfel::FatalEnd(1);
}

} // namespace

void WatchDisplay(SDL_Window *window, void (*loseWindow)()) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
    return;
  // The library SDL loaded, asked for by name so that the program itself
  // does not depend on it.
  void *x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (!x11)
    return;
  using SetError = XErrorHandler (*)(XErrorHandler);
  using SetIOError = XIOErrorHandler (*)(XIOErrorHandler);
  using SetIOErrorExit = void (*)(Display *, XIOErrorExitHandler, void *);
  const auto setError = reinterpret_cast<SetError>(dlsym(x11, "XSetErrorHandler"));
  const auto setIOError = reinterpret_cast<SetIOError>(dlsym(x11, "XSetIOErrorHandler"));
  const auto setIOErrorExit =
      reinterpret_cast<SetIOErrorExit>(dlsym(x11, "XSetIOErrorExitHandler"));
  watchedWindow = info.info.x11.window;
  onLoss = loseWindow;
  connectionLossSurvivable = setIOErrorExit != nullptr;
  if (setError)
    setError(OnXError);
  if (setIOError)
    setIOError(OnXConnectionLost);
  if (setIOErrorExit)
    setIOErrorExit(info.info.x11.display, OnXConnectionGone, nullptr);
  dlclose(x11);
}

} // namespace graph
