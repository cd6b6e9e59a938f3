// The graphics library: the classic PC graphics-interface operations on a
// 640 x 480 canvas with the 16-colour palette, shown in a window when a
// display exists, drawn off-screen otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace graph {

using INT16 = std::int16_t;
using WORD = std::uint16_t;

constexpr INT16 Detect = 0;
constexpr INT16 grOk = 0;

void InitGraph(INT16 &GraphDriver, INT16 &GraphMode, std::string_view PathToDriver);
INT16 GraphResult();
void SetBkColor(WORD Color);
INT16 GetMaxX();
INT16 GetMaxY();
void SetLineStyle(WORD LineStyle, WORD Pattern, WORD Thickness);
void Line(INT16 x1, INT16 y1, INT16 x2, INT16 y2);
void OutTextXY(INT16 X, INT16 Y, std::string_view TextString);
void MoveTo(INT16 X, INT16 Y);
void LineTo(INT16 X, INT16 Y);
// Where CloseGraph and the snapshot write the picture (ZANFEL.PNG in the
// working directory until set).
void SetPicturePath(std::string path);
// Writes the picture to its path, closes the window.
// A picture that cannot be written ends the program with its I/O error and
// leaves an earlier picture as it was.
void CloseGraph();

// True while a key press waits in the window's queue (never taken), and from
// the moment the user closes the window on. False when there is no window.
// Modifier and lock keys alone are no key press (they are dropped).
bool KeyPending();
// For a wait for Enter: handles the window's events (repaint) and takes its
// key presses; true when one of them was Return or keypad Enter, or the
// window was closed.
bool EnterPressedOrClosed();
// Whether a picture of this run was written (async-signal-safe).
bool PictureSaved();
// Whether the canvas is shown in a window.
bool WindowShown();
// Whether the window went away with its display (it then counts as closed).
bool WindowLost();
void SetWindowTitle(std::string_view title);
// Draws off-screen from now on, as without a display (--no-window).
void NoWindow();
// Whether the run may show a window (no --no-window).
bool WindowWanted();

// Writes the picture of the run's end now, before the final wait, so that
// the files the wait's summary names are there; CloseGraph then leaves it.
// A picture that cannot be written ends the program as in CloseGraph.
void SavePictureAtEnd();
// Writes the snapshot now if graphics are open (used before a fatal end).
void SnapshotIfOpen();

// Recording seam for tests: every operation received is written to `path`,
// one a line, in the plot log format. An empty path stops recording.
void RecordCallsTo(const std::string &path);

// Test access to the canvas: palette index of a pixel, and the RGB colour the
// palette shows for it (0xRRGGBB).
int CanvasPixel(int x, int y);
std::uint32_t CanvasColour(int x, int y);

} // namespace graph
