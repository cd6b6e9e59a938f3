// Benchmarks of the hot path and of whole runs: right-hand sides, single
// trajectories, USRFUN calls per program, and the drivers of shoot_b1 (first
// 300 records), shoot_c1 and shoot_c2 (whole runs), on one thread and on two.
// Each reports right-hand-side evaluations per second besides its time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/scripted_hooks.hpp"
#include "continuation/families.hpp"
#include "continuation/own_problem.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/first_start.hpp"

#include "examples/troesch/troesch.hpp"

namespace zanfel {
namespace {

// The start state of a program's first solve, from its settings table.
template <class Model, const auto &Settings> typename Model::Globals FirstStart() {
  typename Model::Globals g;
  LoadFirstStart(g, Settings);
  return g;
}

unsigned long Evaluations() {
  return rightHandSideEvaluations.load(std::memory_order_relaxed);
}

void ReportRate(benchmark::State &state, unsigned long evaluations) {
  state.counters["rhs/s"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate);
}

template <class Model, const auto &Settings> void RightHandSide(benchmark::State &state) {
  auto g = FirstStart<Model, Settings>();
  Array1<REAL, 1, Model::NEQN> y, yp;
  Model::INITVAL(g, g.X, View1<REAL>{y.data()});
  for (auto _ : state) {
    // The state and the scale as if new each time: nothing is hoisted out of
    // the loop (the whole evaluation is visible to the optimiser).
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(g);
    Model::DIFEQN(g, 0.5L, View1<const REAL>{y.data()}, View1<REAL>{yp.data()});
    benchmark::DoNotOptimize(yp);
  }
  ReportRate(state, state.iterations());
}

template <class Model, const auto &Settings> void Trajectory(benchmark::State &state) {
  auto g = FirstStart<Model, Settings>();
  const unsigned long before = Evaluations();
  for (auto _ : state) {
    RKF<Model>(g, g.X, g.YOUT);
    benchmark::DoNotOptimize(g.YOUT);
  }
  ReportRate(state, Evaluations() - before);
}

template <class Model, const auto &Settings> void Usrfun(benchmark::State &state) {
  SetTrajectoryThreads(static_cast<int>(state.range(0)));
  const auto start = FirstStart<Model, Settings>();
  auto g = start;
  GLNBYN<Model::N> alpha;
  GLNARRAY<Model::N> beta;
  const unsigned long before = Evaluations();
  for (auto _ : state) {
    g = start;
    USRFUN<Model>(g, Model::N, alpha, beta);
    benchmark::DoNotOptimize(alpha);
  }
  ReportRate(state, Evaluations() - before);
  SetTrajectoryThreads(0);
}

// A whole run in a child process (the programs end their own process on the
// iteration limit), in a scratch directory, without display or console.
struct Shared {
  unsigned long evaluations;
};
Shared *shared = nullptr;
unsigned long evaluationsAtStart = 0;
void PublishEvaluations() {
  shared->evaluations = Evaluations() - evaluationsAtStart;
}

// The rows of the run's ZANFEL.CSV: its records, every pass's.
long CsvRecords(const std::string &dir) {
  std::ifstream in(dir + "/ZANFEL.CSV");
  long rows = 0;
  for (std::string line; std::getline(in, line);)
    rows += !line.empty() && line[0] >= '0' && line[0] <= '9';
  return rows;
}

void Driver(benchmark::State &state, ProgramBody body, int keyFromTest) {
  if (!shared)
    shared = static_cast<Shared *>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  char dir[] = "/tmp/zanfel-bench-XXXXXX";
  if (!mkdtemp(dir))
    std::abort();
  unsigned long evaluations = 0;
  long records = 0;
  double seconds = 0.0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir) != 0)
        _exit(120);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      evaluationsAtStart = Evaluations();
      InstallFaultHandling();
      SetTrajectoryThreads(static_cast<int>(state.range(0)));
      // Every way out restores the terminal first: the count goes out there.
      SetRestoreHook(PublishEvaluations);
      const int status = RunScripted(body, keyFromTest);
      PublishEvaluations();
      _exit(status);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(elapsed);
    seconds += elapsed;
    evaluations += shared->evaluations;
    records += CsvRecords(dir);
  }
  state.counters["rhs/s"] = static_cast<double>(evaluations) / seconds;
  state.counters["records/s"] = static_cast<double>(records) / seconds;
}

void ShootB1FirstThreeHundredRecords(benchmark::State &state) {
  Driver(state, RunShootB1, 300);
}
// The first 100 records of shoot_b1, stepped naturally and along the
// arclength: the cost of the P column and the extra equation per record.
void ShootB1HundredRecordsNatural(benchmark::State &state) {
  Driver(state, RunShootB1, 100);
}
void ShootB1HundredRecordsArclength(benchmark::State &state) {
  Driver(
      state,
      +[](SweepObserver &o) {
        SettingOptions alongArc;
        alongArc.strategy = Strategy::Arclength;
        return RunShootB1(o, alongArc);
      },
      100);
}
// The same 100 records with every one's profile: one trajectory more each,
// against the N + 1 of every Newton iteration.
void ShootB1HundredRecordsProfiled(benchmark::State &state) {
  Driver(
      state,
      +[](SweepObserver &o) {
        SettingOptions profiled;
        std::string error;
        ParseSpecialOption("--profiles", "all", profiled.special, error);
        return RunShootB1(o, profiled);
      },
      100);
}
void ShootC1WholeRun(benchmark::State &state) {
  Driver(state, RunShootC1, 0);
}
void ShootC2WholeRun(benchmark::State &state) {
  Driver(state, RunShootC2, 0);
}

const int kAllThreads = 0; // the CPUs the process may use

// One Jacobian of Troesch's problem at mu = 4 on its solution, on one
// thread, with M segments (range(0); 1: single shooting's USRFUN): its time
// and its right-hand-side evaluations, also in whole trajectories at the
// same point: the difference pieces alone ("columns", the call's less those
// of its base pieces run by themselves) and the whole call ("trajectories",
// columns + base), against the bound (N + (M - 1) NEQN + 1) / M.
void TroeschJacobian(benchmark::State &state) {
  using Shot = ScaleIsP<Troesch>;
  using MS = SegmentedShooting<Shot>;
  SetTrajectoryThreads(1);
  const int M = static_cast<int>(state.range(0));
  Shot::Globals g;
  g.P = g.H = 4.0L;
  g.X[1] = 0.11188016484509L;
  auto ms = std::make_unique<MS>(EqualSegments(M));
  NewtonTrace trace;
  if (M > 1 && SolveOnSegments(*ms, g, trace, [] {}) != Failure::None)
    state.SkipWithError("no solution at mu = 4");
  unsigned long before = Evaluations();
  RKF<Shot>(g, g.X, g.YOUT);
  const double whole = static_cast<double>(Evaluations() - before);
  GLNBYN<1> alpha;
  GLNARRAY<1> beta;
  GLNBYN<MS::NZ> A;
  GLNARRAY<MS::NZ> B;
  SegmentEnds ends;
  before = Evaluations();
  if (M == 1)
    RKF<Shot>(g, g.X, g.YOUT);
  else
    SegmentBase(*ms, g, ms->Z, B, ends);
  const double base = static_cast<double>(Evaluations() - before);
  before = Evaluations();
  for (auto _ : state) {
    if (M == 1) {
      Shot::Globals gc = g;
      USRFUN<Shot>(gc, 1, alpha, beta);
    } else {
      SegmentedUSRFUN(*ms, g, ms->Z, A, B, ends);
    }
    benchmark::DoNotOptimize(A);
  }
  const double perCall =
      static_cast<double>(Evaluations() - before) / static_cast<double>(state.iterations());
  state.counters["rhs/call"] = perCall;
  state.counters["columns"] = (perCall - base) / whole;
  state.counters["trajectories"] = perCall / whole;
  state.counters["bound"] = (1.0 + (M - 1) * 2.0 + 1.0) / M;
  SetTrajectoryThreads(0);
}

BENCHMARK(RightHandSide<FamilyA<4>, kShootA1>)->Name("rhs/family_a");
BENCHMARK(RightHandSide<FamilyB, kShootB1>)->Name("rhs/family_b");
BENCHMARK(RightHandSide<FamilyC, kShootC2>)->Name("rhs/family_c");
BENCHMARK(Trajectory<FamilyA<4>, kShootA1>)
    ->Name("trajectory/family_a")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Trajectory<FamilyB, kShootB1>)
    ->Name("trajectory/family_b")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Trajectory<FamilyC, kShootC2>)
    ->Name("trajectory/family_c")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Usrfun<FamilyA<4>, kShootA1>)
    ->Name("usrfun/shoot_a1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyA<5>, kShootA2>)
    ->Name("usrfun/shoot_a2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyB, kShootB1>)
    ->Name("usrfun/shoot_b1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyB, kShootB2>)
    ->Name("usrfun/shoot_b2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyC, kShootC1>)
    ->Name("usrfun/shoot_c1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyC, kShootC2>)
    ->Name("usrfun/shoot_c2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ShootB1FirstThreeHundredRecords)
    ->Name("driver/shoot_b1_300_records")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(ShootB1HundredRecordsNatural)
    ->Name("driver/shoot_b1_100_records_natural")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(ShootB1HundredRecordsArclength)
    ->Name("driver/shoot_b1_100_records_arclength")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(ShootB1HundredRecordsProfiled)
    ->Name("driver/shoot_b1_100_records_profiled")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(ShootC1WholeRun)
    ->Name("driver/shoot_c1_whole")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(ShootC2WholeRun)
    ->Name("driver/shoot_c2_whole")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);
BENCHMARK(TroeschJacobian)
    ->Name("jacobian/troesch_segments")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace zanfel

BENCHMARK_MAIN();
