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

// What the status line tells of a run, as it stands.
struct Status {
  std::string program;
  REAL P = 0.0L;
  double covered = -1.0; // share of the pass's range behind P, 0 to 1; < 0 unknown
  long records = 0;      // records written in this run, over all its passes
  double seconds = 0.0;  // since the run started
  long recordsHere = 0;  // of those, records this process computed (not resumed)
  int iterations = -1;   // Newton iterations of the last solve; < 0 none yet
  std::string plotted;   // the plotted value's name
  REAL value = 0.0L;
};

// The pass's sweep, for the share of its range covered.
void NoteSweep(const PassStart &pass);
// After each record: shown at most every 250 ms. `records` counts this run's
// records over all passes, `resumed` whether it is one a resume kept.
void AfterRecord(REAL P, long records, int iterations, REAL value, bool resumed);
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

// What the title says. `records` 0 means no P yet; `ended` empty while the
// run goes on.
std::string StatusText(std::string_view program, REAL P, long records, std::string_view ended);

// The status line on a terminal of `width` columns: whole fields only, in
// the order of their worth, the last column left free (0: no width known).
std::string StatusLine(const Status &status, unsigned width);
// `text` cut at its last word boundary before `width` columns.
std::string FitWords(const std::string &text, unsigned width);

} // namespace zanfel::progress
