// Draws the frame of shoot_a1 and a short curve with floating-point traps
// enabled, as the programs run. Prints "window" or "off-screen" when the
// picture is complete, waits for a line on standard input (end of file does
// as well), then closes graphics, which writes ZANFEL.PNG. Exit status 4 if
// the graphics calls left the traps changed.
#include <cfenv>
#include <cstring>
#include <unistd.h>

#include "graph/graph.hpp"
#include "plot/syskord.hpp"

int main() {
  const int traps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
  feenableexcept(traps);
  zanfel::Frame frame;
  zanfel::SYSKORD(frame, 0, 4, -4, 4, 1.0L, 1.0L, true);
  graph::MoveTo(zanfel::PlotColumn(frame, 0.0L, 1.0L, 0), zanfel::PlotRow(frame, 0.0L, 1.0L, 4));
  for (int k = 1; k <= 40; ++k) {
    zanfel::REAL u = k * 0.1L;
    graph::LineTo(zanfel::PlotColumn(frame, u, 1.0L, 0),
                  zanfel::PlotRow(frame, 3.0L * u / (1.0L + u), 1.0L, 4));
  }
  graph::KeyPending(); // as the drivers test for a key after each step
  const char *state = graph::WindowShown() ? "window\n" : "off-screen\n";
  if (write(1, state, std::strlen(state)) < 0)
    return 3;
  char c = 0;
  while (read(0, &c, 1) == 1 && c != '\n') {
  }
  graph::CloseGraph();
  return fegetexcept() == traps ? 0 : 4;
}
