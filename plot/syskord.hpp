// The coordinate frame of the plot and the world-to-pixel mapping of the
// drivers' curves.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

// The frame's origin (pixel column and row of its top-left corner) and scales
// (pixels per tick), program-wide in every deliverable.
struct Frame {
  INT16 X0 = 0, Y0 = 0;
  REAL MX = 0, MY = 0;
};

// Initialises graphics and draws the ruled frame for x ticks MX1..MX2 (tick I
// stands for I*XI) and y ticks MY1..MY2 (I*YI); sets the frame variables.
// With checkGraphResult a failed initialisation ends the program with exit
// status 1 and no message. 16-bit overflow ends with 215, a grid position
// beyond 16 bits with 201.
void SYSKORD(Frame &f, INT16 MX1, INT16 MX2, INT16 MY1, INT16 MY2, REAL XI, REAL YI,
             bool checkGraphResult = false);

// Pixel column of world x value u: round(X0 + MX*(u/XI - MX1)), ties to even;
// a result beyond 16 bits ends the program with 201.
INT16 PlotColumn(const Frame &f, REAL u, REAL XI, INT16 MX1);
// Pixel row of world y value v: round(Y0 - MY*(v/YI - MY2)).
INT16 PlotRow(const Frame &f, REAL v, REAL YI, INT16 MY2);

} // namespace zanfel
