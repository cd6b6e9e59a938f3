// Which key presses in the window mean something (inside the graphics
// library only: it carries SDL's types).
#pragma once

#include <SDL2/SDL.h>

namespace graph {

// A key that produces a character or a key code (letters, digits, Enter,
// Esc, Space, arrows, function keys, ...). A modifier or lock key alone
// (Shift, Ctrl, Alt, AltGr, Super, Caps/Num/Scroll Lock) never counts, nor
// does a key the system cannot name: Alt+Tab to another window must not end
// a sweep.
bool CountsAsKey(const SDL_Keysym &key);

// Return or keypad Enter: the answer to a wait for Enter.
bool IsEnterKey(const SDL_Keysym &key);

} // namespace graph
