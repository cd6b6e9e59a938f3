// The model contract where a fault would otherwise show only in a whole run:
// the H a trajectory leaves, the parallel USRFUN against the sequential one,
// and the drivers' reuse of MNEWT's last call, at every program's start.
#include <gtest/gtest.h>

#include "continuation/usrfun_memo.hpp"
#include "runtime/console.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/first_start.hpp"

namespace zanfel {
namespace {

// Everything a USRFUN call leaves behind, with the messages it wrote.
template <class Model> struct CallResult {
  typename Model::Globals g;
  GLNBYN<Model::N> alpha;
  GLNARRAY<Model::N> beta;
  std::string messages;
};

template <class Model> void ExpectSameBits(const CallResult<Model> &a, const CallResult<Model> &b) {
  EXPECT_TRUE(SameBits(a.g.X, b.g.X)) << "X";
  EXPECT_TRUE(SameBits(a.g.H, b.g.H)) << "H " << double(a.g.H) << " " << double(b.g.H);
  EXPECT_TRUE(SameBits(a.g.YOUT, b.g.YOUT)) << "YOUT";
  EXPECT_TRUE(SameBits(a.beta, b.beta)) << "BETA";
  for (int i = 1; i <= Model::N; ++i)
    for (int j = 1; j <= Model::N; ++j)
      EXPECT_TRUE(SameBits(a.alpha(i, j), b.alpha(i, j))) << "ALPHA(" << i << "," << j << ")";
  EXPECT_EQ(a.messages, b.messages);
}

template <class Model>
CallResult<Model> CallUsrfun(const typename Model::Globals &start, int threads) {
  SetTrajectoryThreads(threads);
  CallResult<Model> r{start, {}, {}, {}};
  CaptureMessages(&r.messages);
  USRFUN<Model>(r.g, Model::N, r.alpha, r.beta);
  CaptureMessages(nullptr);
  SetTrajectoryThreads(0);
  return r;
}

// The start states of the six programs (shoot_a1 in both modes), the same
// with H as the first solve's trajectories leave it, and with unknowns near
// zero (where raising and lowering by the difference step loses bits).
template <class Model, class Settings>
std::vector<typename Model::Globals> Starts(const Settings &settings) {
  typename Model::Globals g;
  LoadFirstStart(g, settings);
  auto later = g;
  later.H = Model::HAfterTrajectory(g, g.X, g.H);
  auto full = later;
  for (int I = 1; I <= Model::N; ++I)
    full.X[I] = full.X[I] * 1.0001L + 3.0E-17L;
  return {g, later, full};
}

template <class Model> void ForEachStart(const auto &check) {
  if constexpr (std::is_same_v<Model, FamilyA<4>>) {
    for (auto g : Starts<Model>(kShootA1))
      check(g);
    for (auto g : Starts<Model>(kShootA1)) {
      g.par.K1 = 2;
      LoadStart(g, kShootA1.startMode2);
      check(g);
    }
  } else if constexpr (std::is_same_v<Model, FamilyA<5>>) {
    for (const auto &g : Starts<Model>(kShootA2))
      check(g);
  } else if constexpr (std::is_same_v<Model, FamilyB>) {
    for (const auto *s : {&kShootB1, &kShootB2})
      for (const auto &g : Starts<Model>(*s))
        check(g);
  } else {
    for (const auto *s : {&kShootC1, &kShootC2})
      for (const auto &g : Starts<Model>(*s))
        check(g);
  }
}

template <class Model> class Contract : public ::testing::Test {};
using Models = ::testing::Types<FamilyA<4>, FamilyA<5>, FamilyB, FamilyC>;
TYPED_TEST_SUITE(Contract, Models);

// A one-at-a-time trajectory, plain or with an unknown raised in the
// program-wide vector, leaves the H that the parallel path predicts.
TYPED_TEST(Contract, TheHATrajectoryLeavesIsTheOnePredicted) {
  using Model = TypeParam;
  ForEachStart<Model>([](const typename Model::Globals &start) {
    for (int raised = 0; raised <= Model::N; ++raised) {
      auto g = start;
      if (raised > 0)
        g.X[raised] = g.X[raised] + DifferenceStep(g.X[raised]);
      const auto before = g;
      std::string messages;
      CaptureMessages(&messages);
      RKF<Model>(g, g.X, g.YOUT);
      CaptureMessages(nullptr);
      EXPECT_TRUE(SameBits(g.H, Model::HAfterTrajectory(before, before.X, before.H)))
          << "unknown raised: " << raised;
    }
  });
}

TYPED_TEST(Contract, ParallelUsrfunGivesTheSequentialBits) {
  using Model = TypeParam;
  ForEachStart<Model>([](const typename Model::Globals &g) {
    const auto one = CallUsrfun<Model>(g, 1);
    ExpectSameBits(CallUsrfun<Model>(g, 2), one);
    ExpectSameBits(CallUsrfun<Model>(g, Model::N + 3), one);
  });
}

// The drivers' repeated call at MNEWT's last inputs takes the remembered
// results: the same bits as a fresh call, X lowered by subtraction included,
// and no trajectory run. Inputs that differ in one bit integrate again.
TYPED_TEST(Contract, AReusedCallGivesTheBitsOfAFreshOne) {
  using Model = TypeParam;
  static int unknownsChangedByTheCall = 0;
  ForEachStart<Model>([](const typename Model::Globals &start) {
    const auto fresh = CallUsrfun<Model>(start, 1);
    if (!fresh.messages.empty())
      return; // such a call is never reused
    UsrfunMemo<Model> memo;
    CallResult<Model> reused{start, {}, {}, {}};
    memo.Record(reused.g, Model::N, reused.alpha, reused.beta);
    if (!SameBits(reused.g.X, start.X))
      ++unknownsChangedByTheCall;
    reused.g = start;
    const unsigned long before = rightHandSideEvaluations.load();
    memo.Reuse(reused.g, Model::N, reused.alpha, reused.beta);
    EXPECT_EQ(rightHandSideEvaluations.load(), before) << "integrated again";
    ExpectSameBits(reused, fresh);

    auto moved = start;
    moved.P = std::nextafter(moved.P, REAL(1.0E9L));
    reused.g = start;
    memo.Record(reused.g, Model::N, reused.alpha, reused.beta);
    reused.g = moved;
    memo.Reuse(reused.g, Model::N, reused.alpha, reused.beta);
    ExpectSameBits(reused, CallUsrfun<Model>(moved, 1));
  });
  if constexpr (std::is_same_v<Model, FamilyB>) {
    EXPECT_GT(unknownsChangedByTheCall, 0) << "no start where the reuse must restore X";
  }
}

} // namespace
} // namespace zanfel
