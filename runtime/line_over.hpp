// One line of a terminal that is written over again and erased: the status
// line and the prompt of the wait for Enter. A terminal that takes no control
// sequences (TERM=dumb: an editor's shell buffer, a serial console) gets
// none: the line is written over with blanks instead of cleared.
#pragma once

#include <cstddef>
#include <string>

namespace zanfel {

// Whether TERM names the dumb terminal. Read once, at the first call; call it
// before any signal handler can need it (EraseLineOver reads the same value).
bool DumbTerminal();

// What shows `text` on the line in place of a line of `previous` characters.
std::string LineOver(const std::string &text, std::size_t previous);

// Erases a line of `length` characters on `fd`, leaving the cursor at its
// start. Async-signal-safe.
void EraseLineOver(int fd, std::size_t length);

} // namespace zanfel
