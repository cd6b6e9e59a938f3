#include "runtime/interrupt.hpp"

#include <csignal>
#include <cstdio>

#include "runtime/exit_sequence.hpp"
#include "runtime/signals.hpp"

namespace zanfel {

namespace {

volatile sig_atomic_t interruptSignal = 0;
InterruptWork interruptWork = nullptr;

// The first signal only asks; the second finds the request already made and
// ends the program on the spot.
void OnInterrupt(int sig) {
  if (interruptSignal != 0)
    EndBySignal(sig);
  interruptSignal = sig;
}

} // namespace

void InstallInterruptHandlers() {
  struct sigaction interrupt {};
  interrupt.sa_handler = OnInterrupt;
  // Library calls (the display connection, the pool's waits) carry on; the
  // waits of the program poll and look at the request themselves.
  interrupt.sa_flags = SA_RESTART;
  sigemptyset(&interrupt.sa_mask);
  sigaddset(&interrupt.sa_mask, SIGINT);
  sigaddset(&interrupt.sa_mask, SIGTERM);
  for (int sig : {SIGINT, SIGTERM})
    InstallUnlessIgnored(sig, interrupt);
}

int InterruptSignal() {
  return interruptSignal;
}

void SetInterruptWork(InterruptWork work) {
  interruptWork = work;
}

void EndIfInterrupted() {
  const int sig = interruptSignal;
  if (sig == 0)
    return;
  std::fflush(stdout);
  if (interruptWork)
    interruptWork();
  EndBySignal(sig);
}

} // namespace zanfel
