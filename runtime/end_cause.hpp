// Which of the system's own fatal ends ended the run, for the summary that
// tells the person how it ended: they all exit with status 0.
#pragma once

namespace zanfel {

enum class FatalCause { Unknown, IterationLimit, InvalidIntegratorCall };

// Noted just before the fatal end. Async-signal-safe to read.
void NoteFatalCause(FatalCause cause);
FatalCause NotedFatalCause();

} // namespace zanfel
