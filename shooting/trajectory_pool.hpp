// A persistent pool of worker threads on which the trajectories of one
// USRFUN call run side by side.
#pragma once

namespace zanfel {

// The threads a USRFUN call may use: the CPUs this process may run on, unless
// set otherwise (tests and benchmarks compare one thread with several).
int TrajectoryThreads();
void SetTrajectoryThreads(int threads);

// Runs task(ctx, i) for every i in [0, count) on at most `threads` threads,
// the calling thread among them, and returns when all have finished. The
// workers are started once and kept.
void RunOnPool(int count, int threads, void (*task)(void *ctx, int i), void *ctx);

} // namespace zanfel
