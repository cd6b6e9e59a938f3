// An interrupt (Ctrl-C, SIGINT, SIGTERM) ends a run at its next safe point
// rather than wherever it strikes, so that the run can keep its picture and
// say how it ended; a second one ends it at once.
//
// A safe point is a place where every finished record is in the results file
// and nothing is half-done that a person would miss: between two Newton
// iterations, between two continuation steps, during a wait for Enter.
#pragma once

namespace zanfel {

// Installs the handlers of SIGINT and SIGTERM; a signal the parent chose to
// ignore stays ignored. Call after InstallFaultHandling, which it overrides
// for these two signals.
void InstallInterruptHandlers();

// The signal that asked for the end; 0 while none did.
int InterruptSignal();

// What must happen at the safe point before the end (the picture).
using InterruptWork = void (*)();
void SetInterruptWork(InterruptWork work);

// At a safe point: after an interrupt, does the interrupt work and ends the
// program by that signal (status 128 + n for the parent). Returns otherwise.
void EndIfInterrupted();

} // namespace zanfel
