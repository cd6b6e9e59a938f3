// Benchmarks of the hot path and of whole runs: right-hand sides, single
// trajectories, USRFUN calls per program, and the drivers of shoot_b1 (first
// 200 sweep steps) and shoot_c2 (the whole run). Each reports right-hand-side
// evaluations per second besides its time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "drivers/programs.hpp"
#include "models/family_a.hpp"
#include "models/family_b.hpp"
#include "models/family_c.hpp"
#include "runtime/fault.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel {
namespace {

// The start state of each program's first solve.
template <class Model> struct Start;

template <> struct Start<FamilyA<4>> {
  static void Set(FamilyA<4>::Globals &g) {
    g.K1 = 1;
    g.PR = 0.023L;
    g.PD = 10.0L;
    g.GAM1 = -1.9L;
    g.ALF1 = 0.07L;
    g.P = 0.1L;
    g.H = g.P;
    g.X[1] = g.P;
    g.X[2] = 1.5L * (g.ALF1 - g.P);
  }
};

template <> struct Start<FamilyA<5>> {
  static void Set(FamilyA<5>::Globals &g) {
    g.K1 = 2;
    g.PR = 0.023L;
    g.PD = 10.0L;
    g.GAM1 = -0.1L;
    g.ALF1 = 0.1L;
    g.P = 0.09484164L;
    const REAL x[] = {1.11577088L, -1.96112053L, 0.86588295L, 2.87530549L, -0.15827862L};
    for (int i = 1; i <= 5; ++i)
      g.X[i] = x[i - 1];
    g.H = g.X[1];
  }
};

template <> struct Start<FamilyB> {
  static void Set(FamilyB::Globals &g) {
    g.K1 = 2;
    g.PR = 0.023L;
    g.PD = 10.0L;
    g.GAM1 = -0.1L;
    g.P = 0.11893163L;
    const REAL x[] = {1.11364898L,    -2.033455005L,  0.8694461013L,
                      3.257078039L,   0.0456766578L,  -11.0086893897L,
                      31.8328860066L, -0.7854887026L, -204.941223689L};
    for (int i = 1; i <= 9; ++i)
      g.X[i] = x[i - 1];
    g.H = g.X[1];
  }
};

template <> struct Start<FamilyC> {
  static void Set(FamilyC::Globals &g) {
    g.K1 = 1;
    g.PR = 0.023L;
    g.PD = 15.0L;
    g.GAM1 = 0.0L;
    g.P = 1.04437262L;
    g.H = g.P;
    const REAL xs[] = {0.947732L,   -4.462087L, -8.245465L, 0.0L, -11.453855L,
                       -13.017735L, 38.586693L, 157.81579L, 0.0L};
    for (int i = 1; i <= 9; ++i)
      g.XS[i] = xs[i - 1];
  }
};

void StartB2(FamilyB::Globals &g) {
  Start<FamilyB>::Set(g);
  g.PD = 15.0L;
  g.GAM1 = 1.0L;
  g.P = -3.59233618L;
  const REAL x[] = {1.54L, 7.27267194L, 0.0L, -5.69183609L, 0.41157551L, 0.0L, 0.0L, 0.0L, 0.0L};
  for (int i = 1; i <= 9; ++i)
    g.X[i] = x[i - 1];
  g.H = g.X[1];
}

void StartC1(FamilyC::Globals &g) {
  Start<FamilyC>::Set(g);
  g.PD = 10.0L;
  g.GAM1 = -0.1L;
  g.P = 1.11364898L;
  g.H = g.P;
  const REAL xs[] = {0.11893163L,     -2.033455005L,  0.8694461013L,  3.257078039L,   0.0456766578L,
                     -11.0086893897L, 31.8328860066L, -0.7854887026L, -204.941223689L};
  for (int i = 1; i <= 9; ++i)
    g.XS[i] = xs[i - 1];
}

unsigned long Evaluations() {
  return rightHandSideEvaluations.load(std::memory_order_relaxed);
}

void ReportRate(benchmark::State &state, unsigned long evaluations) {
  state.counters["rhs/s"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate);
}

template <class Model> void RightHandSide(benchmark::State &state) {
  typename Model::Globals g;
  Start<Model>::Set(g);
  Array1<REAL, 1, Model::NEQN> y, yp;
  Model::INITVAL(g, g.X, View1<REAL>{y.data()});
  for (auto _ : state) {
    Model::DIFEQN(g, 0.5L, View1<const REAL>{y.data()}, View1<REAL>{yp.data()});
    benchmark::DoNotOptimize(yp);
  }
  ReportRate(state, state.iterations());
}

template <class Model> void Trajectory(benchmark::State &state) {
  typename Model::Globals g;
  Start<Model>::Set(g);
  const unsigned long before = Evaluations();
  for (auto _ : state) {
    RKF<Model>(g, g.X, g.YOUT);
    benchmark::DoNotOptimize(g.YOUT);
  }
  ReportRate(state, Evaluations() - before);
}

template <class Model, void (*SetStart)(typename Model::Globals &) = Start<Model>::Set>
void Usrfun(benchmark::State &state) {
  SetTrajectoryThreads(static_cast<int>(state.range(0)));
  typename Model::Globals g;
  SetStart(g);
  const auto start = g;
  GLNBYN<Model::N> alpha;
  GLNARRAY<Model::N> beta;
  const unsigned long before = Evaluations();
  for (auto _ : state) {
    g = start;
    USRFUN<Model>(g, g.X, Model::N, alpha, beta);
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
int keyTests = 0;
int keyFrom = 0;
bool KeyFromNthTest() {
  return ++keyTests >= keyFrom;
}
void NoWait() {}
unsigned long evaluationsAtStart = 0;
void PublishEvaluations() {
  shared->evaluations = Evaluations() - evaluationsAtStart;
}

void Driver(benchmark::State &state, int (*body)(const Hooks &), int keyFromTest) {
  if (!shared)
    shared = static_cast<Shared *>(
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  char dir[] = "/tmp/zanfel-bench-XXXXXX";
  if (!mkdtemp(dir))
    std::abort();
  unsigned long evaluations = 0;
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
      keyFrom = keyFromTest;
      Hooks hooks;
      if (keyFromTest > 0)
        hooks.keyPressed = KeyFromNthTest;
      hooks.waitForEnter = NoWait;
      const int status = body(hooks);
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
  }
  state.counters["rhs/s"] = static_cast<double>(evaluations) / seconds;
}

void ShootB1FirstTwoHundredSteps(benchmark::State &state) {
  Driver(state, RunShootB1, 200);
}
void ShootC2WholeRun(benchmark::State &state) {
  Driver(state, RunShootC2, 0);
}

const int kAllThreads = 0; // the CPUs the process may use

BENCHMARK(RightHandSide<FamilyA<4>>)->Name("rhs/family_a");
BENCHMARK(RightHandSide<FamilyB>)->Name("rhs/family_b");
BENCHMARK(RightHandSide<FamilyC>)->Name("rhs/family_c");
BENCHMARK(Trajectory<FamilyA<4>>)->Name("trajectory/family_a")->Unit(benchmark::kMicrosecond);
BENCHMARK(Trajectory<FamilyB>)->Name("trajectory/family_b")->Unit(benchmark::kMicrosecond);
BENCHMARK(Trajectory<FamilyC>)->Name("trajectory/family_c")->Unit(benchmark::kMicrosecond);
BENCHMARK(Usrfun<FamilyA<4>>)
    ->Name("usrfun/shoot_a1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyA<5>>)
    ->Name("usrfun/shoot_a2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyB>)
    ->Name("usrfun/shoot_b1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyB, StartB2>)
    ->Name("usrfun/shoot_b2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyC, StartC1>)
    ->Name("usrfun/shoot_c1")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Usrfun<FamilyC>)
    ->Name("usrfun/shoot_c2")
    ->Arg(1)
    ->Arg(kAllThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ShootB1FirstTwoHundredSteps)
    ->Name("driver/shoot_b1_200_steps")
    ->Arg(1)
    ->Arg(kAllThreads)
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

} // namespace
} // namespace zanfel

BENCHMARK_MAIN();
