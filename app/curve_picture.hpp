// ZANFEL.SVG, the picture of the whole run's curve scaled to its data,
// written beside ZANFEL.PNG at the ends that write it: the normal end, once
// the window has closed, and the fatal ends of the system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zanfel {

struct CurvePoint;

namespace curve_picture {

// The program named in the title ("ZANFEL" until it is set) and the name of
// the value its curve is plotted against: H in the six programs, P in a
// program of one's own, which has no H of its own.
void Start(std::string_view program, std::string_view across = "H");

// From this pass's frame on, the pictures show `curve` with the vertical
// axis named `plotted`, and a fatal end writes one. Call after the frame is
// drawn (a window shown then and gone later was closed by the user).
void Watch(const std::vector<CurvePoint> &curve, const char *plotted);

// Whether the picture of this run was written (async-signal-safe).
bool Saved();

// The title's account of the end: how the last sweep stopped (as the summary
// noted it), or for a
// fatal end its status and whether any record was written before it.
std::string NormalEndText();
std::string FatalEndText(int status, bool runtimeError, bool noRecord);

// Writes the picture now, titled with `ended`; false with errno set when it
// could not be written.
bool WriteNow(std::string_view ended);

// The normal end, after the window closed: the picture; one that cannot be
// written ends the program with its I/O error. No fatal end writes another.
void WriteAtNormalEnd();

} // namespace curve_picture
} // namespace zanfel
