// The six program bodies; each returns its outcome: the exit status of a
// normal end, or the failure that ended its sweep. A
// body runs its program's table with the options over it; without options,
// the table as it is. SettingsErrorX says what is wrong with options before
// anything runs ("" when nothing is).
#pragma once

#include "continuation/engine.hpp"
#include "continuation/program_info.hpp"
#include "continuation/resume.hpp"

namespace zanfel {

#define ZANFEL_PROGRAM_BODY(name)                                                                  \
  RunOutcome name(SweepObserver &observer, const SettingOptions &options);                         \
  inline RunOutcome name(SweepObserver &observer) {                                                \
    return name(observer, {});                                                                     \
  }

ZANFEL_PROGRAM_BODY(RunShootA1)
ZANFEL_PROGRAM_BODY(RunShootA2)
ZANFEL_PROGRAM_BODY(RunShootB1)
ZANFEL_PROGRAM_BODY(RunShootB2)
ZANFEL_PROGRAM_BODY(RunShootC1)
ZANFEL_PROGRAM_BODY(RunShootC2)

// The long sweeps resumed after their last record (--resume); the options
// given again must be the run's own.
ZANFEL_PROGRAM_BODY(ResumeShootB1)
ZANFEL_PROGRAM_BODY(ResumeShootB2)
ZANFEL_PROGRAM_BODY(ResumeShootC1)
ZANFEL_PROGRAM_BODY(ResumeShootC2)

#undef ZANFEL_PROGRAM_BODY

// What each program says of itself, from its table.
ProgramInfo InfoShootA1();
ProgramInfo InfoShootA2();
ProgramInfo InfoShootB1();
ProgramInfo InfoShootB2();
ProgramInfo InfoShootC1();
ProgramInfo InfoShootC2();

std::string SettingsErrorA1(const SettingOptions &options);
std::string SettingsErrorA2(const SettingOptions &options);
std::string SettingsErrorB1(const SettingOptions &options);
std::string SettingsErrorB2(const SettingOptions &options);
std::string SettingsErrorC1(const SettingOptions &options);
std::string SettingsErrorC2(const SettingOptions &options);

} // namespace zanfel
