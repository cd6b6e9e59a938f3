#include "runtime/stop_signal.hpp"

#include <csignal>
#include <cstdio>

#include "runtime/fault.hpp"

namespace zanfel {

namespace {

volatile sig_atomic_t stopSignal = 0;
StopWork stopWork = nullptr;

// The first signal only asks; the second finds the request already made and
// ends the program on the spot.
void OnStopSignal(int sig) {
  if (stopSignal != 0)
    EndBySignal(sig);
  stopSignal = sig;
}

} // namespace

void InstallStopSignals() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  // Library calls (the display connection, the pool's waits) carry on; the
  // waits of the program poll and look at the request themselves.
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  sigaddset(&stop.sa_mask, SIGINT);
  sigaddset(&stop.sa_mask, SIGTERM);
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler != SIG_IGN)
      sigaction(sig, &stop, nullptr);
  }
}

int StopSignal() {
  return stopSignal;
}

void SetStopWork(StopWork work) {
  stopWork = work;
}

void StopIfRequested() {
  const int sig = stopSignal;
  if (sig == 0)
    return;
  std::fflush(stdout);
  if (stopWork)
    stopWork();
  EndBySignal(sig);
}

} // namespace zanfel
