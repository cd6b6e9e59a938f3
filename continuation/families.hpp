// The six program bodies; each returns the exit status of a normal end.
#pragma once

#include "continuation/engine.hpp"
#include "continuation/resume.hpp"

namespace zanfel {

int RunShootA1(SweepObserver &observer);
int RunShootA2(SweepObserver &observer);
int RunShootB1(SweepObserver &observer);
int RunShootB2(SweepObserver &observer);
int RunShootC1(SweepObserver &observer);
int RunShootC2(SweepObserver &observer);

// The long sweeps resumed after their last record (--resume).
int ResumeShootB1(SweepObserver &observer);
int ResumeShootB2(SweepObserver &observer);
int ResumeShootC1(SweepObserver &observer);
int ResumeShootC2(SweepObserver &observer);

} // namespace zanfel
