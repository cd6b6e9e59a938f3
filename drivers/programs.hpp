// The six program bodies; each returns the exit status of a normal end.
#pragma once

#include "drivers/program.hpp"
#include "drivers/resume.hpp"

namespace zanfel {

int RunShootA1(const Hooks &hooks);
int RunShootA2(const Hooks &hooks);
int RunShootB1(const Hooks &hooks);
int RunShootB2(const Hooks &hooks);
int RunShootC1(const Hooks &hooks);
int RunShootC2(const Hooks &hooks);

// The long sweeps resumed after their last record (--resume).
int ResumeShootB1(const Hooks &hooks);
int ResumeShootB2(const Hooks &hooks);
int ResumeShootC1(const Hooks &hooks);
int ResumeShootC2(const Hooks &hooks);

} // namespace zanfel
