// The console seams of a run that nobody watches (the benchmark, the tests):
// a key that comes at a chosen key test and no waits for Enter.
#pragma once

#include "app/run_program.hpp"

namespace zanfel {

// A key pending from the keyFrom-th key test of the run on (0: never), and
// waits for Enter that return at once; nothing else is shown.
Hooks ScriptedHooks(int keyFrom);

// A program body run with scripted hooks and the application observing it;
// its status (a failure ends the program as it would end the program).
int RunScripted(ProgramBody body, int keyFrom);

} // namespace zanfel
