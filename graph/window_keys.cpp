#include "graph/window_keys.hpp"

namespace graph {

bool CountsAsKey(const SDL_Keysym &key) {
  switch (key.sym) {
  case SDLK_LSHIFT:
  case SDLK_RSHIFT:
  case SDLK_LCTRL:
  case SDLK_RCTRL:
  case SDLK_LALT:
  case SDLK_RALT:
  case SDLK_LGUI:
  case SDLK_RGUI:
  case SDLK_MODE:
  case SDLK_CAPSLOCK:
  case SDLK_NUMLOCKCLEAR:
  case SDLK_SCROLLLOCK:
    return false;
  case SDLK_UNKNOWN:
    return key.scancode != SDL_SCANCODE_UNKNOWN;
  default:
    return true;
  }
}

bool IsEnterKey(const SDL_Keysym &key) {
  return key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER || key.sym == SDLK_RETURN2;
}

} // namespace graph
