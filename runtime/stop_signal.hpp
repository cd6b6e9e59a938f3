// Ctrl-C and SIGTERM end a run at its next safe point rather than wherever
// they strike, so that the run can keep its picture and say how it ended; a
// second one ends it at once.
//
// A safe point is a place where every finished record is in the results file
// and nothing is half-done that a person would miss: between two Newton
// iterations, between two continuation steps, during a wait for Enter.
#pragma once

namespace zanfel {

// Installs the handlers of SIGINT and SIGTERM; a signal the parent chose to
// ignore stays ignored. Call after InstallFaultHandling, which it overrides
// for these two signals.
void InstallStopSignals();

// The signal that asked for a stop; 0 while none did.
int StopSignal();

// What must happen at the safe point before the end (the picture).
using StopWork = void (*)();
void SetStopWork(StopWork work);

// At a safe point: when a stop was asked for, does the stop work and ends the
// program by that signal (status 128 + n for the parent). Returns otherwise.
void StopIfRequested();

} // namespace zanfel
