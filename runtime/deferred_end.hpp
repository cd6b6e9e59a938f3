// Ends of the program held back while work runs on a worker thread, and
// played out later on the main thread.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

// How work run by RunDeferringEnds would have ended the program.
struct DeferredEnd {
  enum class Kind { None, Trap, Report, Fatal };
  Kind kind = Kind::None;
  int code = 0;       // the error number, or the exit status of a fatal end
  std::string suffix; // what follows "Runtime error N" on its line
};

// Runs work(ctx) on this thread with every end of the program held back: a
// floating-point trap, a run-time error or a fatal end inside it stops the
// work and is returned instead. The floating-point environment is restored.
//
// The stop is a siglongjmp from where the end happens (for a trap, from the
// signal handler) back into this function: the frames in between are
// abandoned, not unwound, and no destructor of theirs runs. That is sound only
// for work that, wherever it can end, holds nothing that needs destruction,
// release or completion: no live std::string or container, no lock, no
// half-made update of state shared with other threads. The work run here is
// one trajectory of the shooting layer, and it qualifies: its frames (RKF,
// the integrator, the model's hooks) hold fixed-size arrays, scalars and
// views; it writes its messages into its own capture buffer, and a message's
// strings are gone before the fatal end that may follow it; the formatting of
// the reals in a message cannot trap; the ends below write their report text
// straight into the DeferredEnd, outside the abandoned frames. Work that
// breaks these rules must not run here.
DeferredEnd RunDeferringEnds(void (*work)(void *), void *ctx);
// Ends the program exactly as the held-back end would have.
[[noreturn]] void EndAsDeferred(const DeferredEnd &end);

// For the ends themselves (runtime/): whether an end on this thread is held
// back, and holding one back (jumps out of the work; `suffix` is copied into
// the DeferredEnd before the jump). Async-signal-safe for a trap.
bool EndsDeferred();
[[noreturn]] void DeferEnd(DeferredEnd::Kind kind, int code);
[[noreturn]] void DeferReport(int code, std::string_view suffix);
// The suffix of the held-back end, to be filled in place (no string of the
// caller's frame may be alive when the end jumps out).
std::string &DeferredSuffix();

} // namespace zanfel
