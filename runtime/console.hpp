// The console: the system's messages, the wait for Enter and the key test.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

// Writes text held as UTF-8 to standard output at once (no buffering):
// code page 866 bytes to files and pipes, UTF-8 on a UTF-8 terminal.
void WriteMessage(std::string_view utf8);
// The same followed by "\n".
void WriteMessageLine(std::string_view utf8);

// On a terminal, a message line that repeats the one above it is not shown
// again: the line above is rewritten with the count and this note (the
// record and P it belongs to). Files and pipes get every line as it is.
using RepeatNote = std::string (*)();
void SetRepeatNote(RepeatNote note);

// While `buffer` is set, this thread's messages are appended to it (as
// UTF-8) instead of being written; null writes them again.
void CaptureMessages(std::string *buffer);

// How many messages this thread has written so far (captured ones count
// when they are written with WriteCapturedMessages).
unsigned long MessageCount();
// How many messages this thread has captured so far.
unsigned long CapturedMessageCount();
// Writes the text of `count` captured messages at once, counting them.
void WriteCapturedMessages(std::string_view utf8, unsigned long count);

// Reads one line from standard input with read(2), leaving nothing buffered;
// end of file, an error or a closed descriptor count as Enter, and so do
// Return and closing in the graphics window, which is kept repainted
// meanwhile. The terminal is in its normal mode during the wait, with a
// prompt line on it when standard input is a terminal. A stop asked for by a
// signal ends the program from the wait (see runtime/interrupt.hpp).
void WaitForEnter();

// True while an unread byte waits on standard input or a key press waits in
// the graphics window. Never consumes anything.
bool KeyPressed();

// The graphics window's key source; null when there is no window.
using KeySource = bool (*)();
void SetWindowKeySource(KeySource source);

// The graphics window's part in a wait for Enter: handles the window's events
// (repaint) and tells whether Return or keypad Enter was pressed there or the
// window was closed. Null when there is no window.
using WaitSource = bool (*)();
void SetWindowWaitSource(WaitSource source);
// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes a standard descriptor's number (console text
// would then land in it). Call before anything else opens a file.
void MakeStandardDescriptorsValid();

// Switches a terminal on standard input to non-canonical mode without echo for
// the run (a single key counts); registers the restoration with the fault
// handling. Does nothing when standard input is not a terminal.
void EnterRunMode();
// Restores the terminal mode saved by EnterRunMode. Async-signal-safe.
void RestoreTerminal();
// Whether the run mode is in force.
bool InRunMode();
// Job control, async-signal-safe: on a stop the saved mode comes back; on
// continue the run mode is set again if it was in force at the stop, once
// the run is in the terminal's foreground.
void SuspendRunMode();
void ResumeRunMode();

// Whether `fd` is a terminal whose foreground is another process group (a run
// started with & or moved there by bg). Such a run leaves the terminal alone:
// no run mode, no status line, no prompt, no key read from it.
bool TerminalInBackground(int fd);
// For a run started in the background: the stops for terminal output and
// input are ignored, so that nothing the run writes stops it (a read from the
// terminal fails instead). Call before the fault handling is installed.
void StayRunningInBackground();

// Hook called before any console message is written (the progress line is
// erased there).
using BeforeMessageHook = void (*)();
void SetBeforeMessageHook(BeforeMessageHook hook);
// Calls that hook: for other text on the console (the prompt of a wait).
void BeforeConsoleText();

// `text` cut to fit one row of the terminal on `fd`: a status line or prompt
// wider than the terminal would wrap, and "\r" would then return to its last
// row only. The last column stays free so that the cursor never reaches the
// wrap margin. A terminal that tells no width is not cut.
std::string FitToTerminal(int fd, const std::string &text);
// The width of terminal `fd` in columns; 0 when it tells no width. A line
// that uses the last column wraps.
unsigned TerminalColumns(int fd);

} // namespace zanfel
