// The two ways a real becomes text: fixed(w, d) and the 25-character default
// format, both from the same 17-digit decimal string.
#pragma once

#include <string>

#include "runtime/types.hpp"

namespace zanfel {

std::string Fixed(REAL v, int w, int d);
std::string DefaultFormat(REAL v);

} // namespace zanfel
