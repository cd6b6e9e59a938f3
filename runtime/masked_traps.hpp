// Work that must not trap: the pictures are drawn on the way to a fatal end
// too, where a floating-point trap would replace the end's own report.
#pragma once

#include <cfenv>

namespace zanfel {

// Holds the floating-point environment with all traps masked while alive;
// flags raised meanwhile are dropped, then the caller's environment returns.
class MaskedTraps {
public:
  MaskedTraps() { feholdexcept(&saved_); }
  ~MaskedTraps() {
    feclearexcept(FE_ALL_EXCEPT);
    fesetenv(&saved_);
  }
  MaskedTraps(const MaskedTraps &) = delete;
  MaskedTraps &operator=(const MaskedTraps &) = delete;

private:
  fenv_t saved_;
};

} // namespace zanfel
