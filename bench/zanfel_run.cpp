// Runs one program body in the working directory for timing and profiling:
// a key pending from the RECORDS-th key test on (so the sweep ends after that
// many records; 0: never), THREADS trajectory threads (0: every CPU), no wait
// for Enter, the graphics calls recorded in plot.log. The console and the exit
// status are the program's own, so two builds can be compared byte for byte.
//
//   zanfel_run PROGRAM RECORDS THREADS     PROGRAM: a1 a2 b1 b2 c1 c2
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/scripted_hooks.hpp"
#include "continuation/families.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "shooting/trajectory_pool.hpp"

namespace {

struct Body {
  const char *name;
  zanfel::ProgramBody run;
};
constexpr Body kBodies[] = {{"a1", zanfel::RunShootA1}, {"a2", zanfel::RunShootA2},
                            {"b1", zanfel::RunShootB1}, {"b2", zanfel::RunShootB2},
                            {"c1", zanfel::RunShootC1}, {"c2", zanfel::RunShootC2}};

} // namespace

int main(int argc, char **argv) {
  const Body *body = nullptr;
  for (const Body &b : kBodies)
    if (argc == 4 && std::strcmp(argv[1], b.name) == 0)
      body = &b;
  if (!body) {
    std::fprintf(stderr, "usage: zanfel_run a1|a2|b1|b2|c1|c2 RECORDS THREADS\n");
    return 64;
  }
  zanfel::InstallFaultHandling();
  zanfel::SetTrajectoryThreads(std::atoi(argv[3]));
  graph::RecordCallsTo("plot.log");
  return zanfel::RunScripted(body->run, std::atoi(argv[2]));
}
