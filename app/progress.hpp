// Progress of a run for the person watching it: the program, the swept
// parameter, the records written and, at the end, how the run ended. Shown in
// the graphics window's title and, while no window is shown and standard
// error is a terminal, as one status line there that is rewritten in place
// and erased before every console message and on every way out.
//
// Nothing here touches standard output, the results file or the exit status.
#pragma once

#include <string>
#include <string_view>

#include "continuation/observer.hpp"

namespace zanfel::progress {

// Takes the program name, learns whether standard error is a terminal and
// registers the erasure of the line with the console messages and the fault
// handling. Shows nothing yet.
void Start(std::string_view program);

// After each record: shown at most every 250 ms.
void AfterRecord(REAL P, long records);
// Notes whether the window is shown now (after a frame is drawn).
void NoteWindow();
// Whether the window was ever seen shown: a window gone since then was closed
// by the user, which ends a sweep as a key does.
bool WindowSeen();
// How a sweep stopped, in the words of the title, the summary line and the
// pictures; a key stop with a window that was shown and is gone is the
// window's closing (or its display's loss).
const char *SweepEndText(SweepEnd why, bool windowWasShown);
// The final state, shown at once: how the run ended and that it waits for
// Enter.
void ShowWaiting();
// Erases the status line if one is shown. Async-signal-safe (write(2) only).
void EraseLine();

// The wait for Enter at the end of a run, with the final state shown during
// the wait and the status line erased after it.
void WaitForEnterShowingProgress();

// What the title and the line say. `records` 0 means no P yet; `ended` empty
// while the run goes on.
std::string StatusText(std::string_view program, REAL P, long records, std::string_view ended);

} // namespace zanfel::progress
