// Multiple shooting: the block Jacobian against the whole residual vector
// differenced column by column, continuity at the nodes of a solve, the node
// states a solve carries to the next, and the options that cut [0, 1].
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "continuation/engine.hpp"
#include "continuation/own_problem.hpp"
#include "nonlinear/limit_reason.hpp"
#include "support/quiet_observer.hpp"

#include "examples/troesch/troesch.hpp"

namespace zanfel {
namespace {

using Shot = ScaleIsP<Troesch>;
using MS = SegmentedShooting<Shot>;

std::unique_ptr<MS> Segmented(const SegmentCuts &cuts) {
  return std::make_unique<MS>(cuts);
}

Shot::Globals TroeschAt(REAL mu, REAL s) {
  Shot::Globals g;
  g.P = mu;
  g.H = mu;
  g.X[1] = s;
  g.solve.ABSERR = 1.0E-30L;
  g.solve.RELERR = 1.0E-11L;
  return g;
}

// The whole residual vector at Z with every segment carried over the given
// steps of its own (steps[k - 1] for segment k) from its start in Z.
void ResidualsOverSteps(MS &ms, const Shot::Globals &g, const GLNARRAY<MS::NZ> &Z,
                        const StepRecord *steps, GLNARRAY<MS::NZ> &BETA) {
  const int M = ms.cuts.M;
  const GLNARRAY<1> X = ModelUnknowns<Shot>(Z);
  MS::State y;
  for (int k = 1; k <= M; ++k) {
    Shot::Globals gk = g;
    gk.H = Shot::HAfterTrajectory(g, X, g.H);
    if (k == 1)
      Shot::INITVAL(gk, X, View1<REAL>{y.data()});
    else
      y = NodeState<Shot>(Z, k - 1);
    IntegrateOverSteps<Shot>(gk, y, ms.cuts.t[k - 1], steps[k - 1].H, steps[k - 1].count);
    if (k < M)
      for (int i = 1; i <= 2; ++i)
        BETA[MS::NodeAt(k) + i] = y[i] - Z[MS::NodeAt(k) + i];
  }
  GLNARRAY1<Shot::NOUT> YOUT;
  EndValues<Shot>(g, X, y, YOUT);
  BETA[1] = YOUT[1];
}

// Each column of the block Jacobian is the difference of the whole
// residual vector, every segment carried over its reference's steps from Z
// and from Z with one unknown raised: the same numbers to the bit, zeros
// included. And it is the Jacobian of the problem itself: the difference of
// the whole residuals integrated adaptively agrees with it to what the
// tolerances allow.
TEST(SegmentsTest, BlockJacobianIsTheWholeDifferenceOverFrozenSteps) {
  for (const int M : {2, 3, 5}) {
    auto ms = Segmented(EqualSegments(M));
    Shot::Globals g = TroeschAt(3.0L, 0.3L);
    ms->Z[1] = 0.3L;
    StartNodes(*ms, g);
    for (int J = 2; J <= ms->Order(); ++J) // off the solution, so no row is 0 by luck
      ms->Z[J] = ms->Z[J] * 1.01L + 1.0E-3L;
    GLNBYN<MS::NZ> ALPHA;
    GLNARRAY<MS::NZ> BETA, B0, BJ, A0, AJ;
    SegmentEnds ends;
    ASSERT_FALSE(SegmentedUSRFUN(*ms, g, ms->Z, ALPHA, BETA, ends).invalidCall);
    StepRecord steps[MS::MMAX];
    for (int k = 1; k <= M; ++k) {
      ASSERT_TRUE(ReferenceHolds(*ms, k)) << k;
      steps[k - 1] = ms->pieces[ms->ReferenceOf(k)].steps;
    }
    const GLNARRAY<MS::NZ> Z = ms->Z;
    ResidualsOverSteps(*ms, g, Z, steps, B0);
    SegmentBase(*ms, g, Z, A0, ends);
    for (int J = 1; J <= ms->Order(); ++J) {
      GLNARRAY<MS::NZ> ZJ = Z;
      const REAL d = SegmentDifferenceStep(Z[J], g.solve.RELERR);
      ZJ[J] = Z[J] + d;
      ResidualsOverSteps(*ms, g, ZJ, steps, BJ);
      SegmentBase(*ms, g, ZJ, AJ, ends);
      REAL size = 0.0L;
      for (int I = 1; I <= ms->Order(); ++I)
        size = std::max(size, fabsl(ALPHA(I, J)));
      for (int I = 1; I <= ms->Order(); ++I) {
        const REAL whole = -(BJ[I] - B0[I]) / d;
        EXPECT_TRUE(SameBits(ALPHA(I, J), whole) || (ALPHA(I, J) == 0.0L && whole == 0.0L))
            << "M = " << M << ", row " << I << ", column " << J << ": " << double(ALPHA(I, J))
            << " against " << double(whole);
        const REAL adaptive = -(AJ[I] - A0[I]) / d;
        EXPECT_LT(fabsl(ALPHA(I, J) - adaptive), 1e-4L * size)
            << "M = " << M << ", row " << I << ", column " << J << ": " << double(ALPHA(I, J))
            << " against " << double(adaptive);
      }
    }
  }
}

// Carried over the steps an integration kept, from the same start, the
// state lands where the integration did, to the bit: the same stages and
// the same fifth-order solution. Also over steps of several budgets; an
// integration cut short by its budget is not complete, nor is one whose
// steps did not all fit.
TEST(SegmentsTest, FrozenStepsRetraceTheIntegrationThatKeptThem) {
  std::vector<REAL> room(kFrozenStepCap);
  for (const INT16 budgets : {1, 3}) {
    Shot::Globals g = TroeschAt(3.0L, 0.02L);
    g.solve.RELERR = budgets == 1 ? 1.0E-9L : 1.0E-14L;
    g.solve.budgets = budgets;
    MS::State y, start;
    start[1] = 0.1L;
    start[2] = 0.3L;
    y = start;
    StepRecord steps;
    steps.Start(room.data());
    ASSERT_EQ(IntegrateSpan<Shot>(g, y, 0.2L, 1.0L, steps), TrajectoryEnd::Reached);
    ASSERT_TRUE(steps.complete);
    if (budgets > 1) {
      EXPECT_GT(6 * steps.count, 3000) << "the steps of one budget only";
    }
    MS::State again = start;
    IntegrateOverSteps<Shot>(g, again, 0.2L, steps.H, steps.count);
    for (int i = 1; i <= 2; ++i)
      EXPECT_TRUE(SameBits(again[i], y[i])) << budgets << " " << i;
  }
  Shot::Globals g = TroeschAt(3.0L, 0.02L);
  g.solve.RELERR = 1.0E-14L;
  g.solve.budgets = 1;
  MS::State y;
  y[1] = 0.1L;
  y[2] = 0.3L;
  StepRecord steps;
  steps.Start(room.data());
  EXPECT_EQ(IntegrateSpan<Shot>(g, y, 0.2L, 1.0L, steps), TrajectoryEnd::CutShort);
  EXPECT_FALSE(steps.complete);
  StepRecord full;
  full.Start(room.data());
  for (int i = 0; i <= kFrozenStepCap; ++i)
    full.Step(1.0E-3L);
  full.Ended(2);
  EXPECT_FALSE(full.complete);
}

// A difference piece costs the stages of its reference's steps, six
// evaluations a step and nothing more: no first-step choice, no rejected
// step, no derivative at its end. The references of short smooth segments
// are one step each.
TEST(SegmentsTest, ColumnsCostTheStagesOfTheirReferenceSteps) {
  SetTrajectoryThreads(1);
  for (const int M : {4, 16}) {
    auto ms = Segmented(EqualSegments(M));
    Shot::Globals g = TroeschAt(4.0L, 0.11188016484509L);
    g.solve.RELERR = 1.0E-9L;
    NewtonTrace trace;
    ASSERT_EQ(SolveOnSegments(*ms, g, trace, [] {}), Failure::None);
    GLNBYN<MS::NZ> ALPHA;
    GLNARRAY<MS::NZ> BETA;
    SegmentEnds ends;
    unsigned long before = rightHandSideEvaluations.load();
    SegmentBase(*ms, g, ms->Z, BETA, ends);
    const unsigned long base = rightHandSideEvaluations.load() - before;
    before = rightHandSideEvaluations.load();
    SegmentedUSRFUN(*ms, g, ms->Z, ALPHA, BETA, ends);
    const unsigned long call = rightHandSideEvaluations.load() - before;
    unsigned long columns = 0;
    for (int J = 1; J <= ms->Order(); ++J)
      columns += 6 * ms->pieces[ms->ReferenceOf(MS::SegmentOf(J))].steps.count;
    int oneStep = 0;
    for (int k = 1; k <= M; ++k)
      oneStep += ms->pieces[ms->ReferenceOf(k)].steps.count == 1;
    // The references again by themselves.
    for (int k = 1; k <= M; ++k)
      LoadReference(*ms, g, ms->Z, k);
    before = rightHandSideEvaluations.load();
    RunPieces(*ms, M, 2 * M, ends);
    const unsigned long references = rightHandSideEvaluations.load() - before;
    EXPECT_EQ(call - base - references, columns) << "M = " << M;
    EXPECT_LT(references, base / 3) << "M = " << M;
    if (M == 16) {
      EXPECT_GE(oneStep, 3 * M / 4);
    }
  }
  SetTrajectoryThreads(0);
}

// Converged, the segments join: each one integrated again from its node
// lands on the next node, the last one on y(1) = 1, and y'(0) is single
// shooting's.
TEST(SegmentsTest, ASolveIsContinuousAtTheNodesAndAgreesWithSingleShooting) {
  auto ms = Segmented(EqualSegments(4));
  Shot::Globals g = TroeschAt(5.0L, 0.05L);
  NewtonTrace trace;
  ASSERT_EQ(SolveOnSegments(*ms, g, trace, [] {}), Failure::None);
  const REAL s = g.X[1];
  EXPECT_LT(fabsl(g.YOUT[1]), 1e-15L);
  GLNARRAY<MS::NZ> BETA;
  SegmentEnds ends;
  SegmentBase(*ms, g, ms->Z, BETA, ends);
  for (int k = 1; k < 4; ++k)
    for (int i = 1; i <= 2; ++i) {
      const REAL node = ms->Z[MS::NodeAt(k) + i];
      EXPECT_LT(fabsl(ms->pieces[k - 1].y[i] - node), 1e-14L * (1.0L + fabsl(node)))
          << "node " << k << ", y" << i;
    }
  Shot::Globals single = TroeschAt(5.0L, 0.05L);
  GLNBYN<1> A;
  GLNARRAY<1> B;
  for (int k = 0; k < 20; ++k) {
    SequentialUSRFUN<Shot>(single, single.X, 1, A, B);
    single.X[1] = single.X[1] + B[1] / A(1, 1);
  }
  EXPECT_LT(fabsl(s / single.X[1] - 1.0L), 1e-9L) << double(s) << " " << double(single.X[1]);
  EXPECT_EQ(g.YOUT[2], s); // the record's values are the model's own
}

// The next solve starts from the node states the last one left: its first
// residuals are those of the old solution at the new P.
TEST(SegmentsTest, NodeStatesCarryFromOneSolveToTheNext) {
  auto ms = Segmented(EqualSegments(3));
  Shot::Globals g = TroeschAt(5.0L, 0.05L);
  NewtonTrace trace;
  ASSERT_EQ(SolveOnSegments(*ms, g, trace, [] {}), Failure::None);
  const GLNARRAY<MS::NZ> old = ms->Z;
  g.P = 5.25L;
  g.H = g.P;
  GLNARRAY<MS::NZ> BETA;
  SegmentEnds ends;
  auto again = Segmented(EqualSegments(3));
  SegmentBase(*again, g, old, BETA, ends);
  REAL ERRF = 0.0L;
  for (int I = 1; I <= ms->Order(); ++I)
    ERRF = ERRF + fabsl(BETA[I]);
  ASSERT_EQ(SolveOnSegments(*ms, g, trace, [] {}), Failure::None);
  EXPECT_TRUE(SameBits(trace.Oldest(0).ERRF, ERRF))
      << double(trace.Oldest(0).ERRF) << " against " << double(ERRF);
  EXPECT_LE(g.ITER, 6);

  // A resume reads the same node states back from their line.
  const std::string line = NodesLine(7, *ms);
  auto read = Segmented(EqualSegments(3));
  std::size_t keep = 0;
  const std::string file = "6,1,2,3,4\n" + line + "8,1,2";
  ASSERT_TRUE(ReadNodesLine(file, 7, *read, keep));
  EXPECT_EQ(keep, file.size() - 5);
  for (int J = 2; J <= ms->Order(); ++J)
    EXPECT_TRUE(SameBits(read->Z[J], ms->Z[J])) << J;
  EXPECT_FALSE(ReadNodesLine(file, 8, *read, keep));                     // torn
  EXPECT_FALSE(ReadNodesLine(std::string("6,1,2,3\n"), 6, *read, keep)); // too few
}

// Where the start guess cannot be integrated across a segment (at mu = 30
// from y'(0) = 1 the trajectory overflows at once), the next segment starts
// again from the guess's own start state; nothing ends the program.
TEST(SegmentsTest, StartNodesRestartFromTheGuessWhereIntegrationFails) {
  auto ms = Segmented(EqualSegments(4));
  Shot::Globals g = TroeschAt(30.0L, 1.0L);
  ms->Z[1] = 1.0L;
  StartNodes(*ms, g);
  for (int k = 1; k < 4; ++k) {
    EXPECT_EQ(ms->Z[MS::NodeAt(k) + 1], 0.0L) << k;
    EXPECT_EQ(ms->Z[MS::NodeAt(k) + 2], 1.0L) << k;
  }
  // At mu = 1 every segment goes through: the nodes lie on the trajectory.
  auto mild = Segmented(EqualSegments(4));
  Shot::Globals g1 = TroeschAt(1.0L, 1.0L);
  mild->Z[1] = 1.0L;
  StartNodes(*mild, g1);
  EXPECT_GT(mild->Z[MS::NodeAt(3) + 1], 0.7L);
}

TEST(SegmentsTest, CutsAndTheirOptions) {
  SegmentCuts cuts;
  EXPECT_EQ(ParseSegments("4", cuts), "");
  EXPECT_EQ(cuts.M, 4);
  EXPECT_EQ(cuts.t[1], 0.25L);
  EXPECT_EQ(cuts.t[4], 1.0L);
  EXPECT_EQ(SegmentCutsText(cuts), " --segments 4");
  EXPECT_EQ(ParseSegments("1", cuts), "");
  EXPECT_EQ(SegmentCutsText(cuts), ""); // one segment is single shooting
  for (const char *bad : {"0", "33", "-2", "x", "2.5"})
    EXPECT_NE(ParseSegments(bad, cuts), "") << bad;
  EXPECT_EQ(ParseNodes("0.5,0.9,0.99", cuts), "");
  EXPECT_EQ(cuts.M, 4);
  EXPECT_EQ(cuts.t[3], 0.99L);
  SegmentCuts back;
  EXPECT_EQ(ParseNodes(SegmentCutsText(cuts).substr(9), back), "");
  EXPECT_TRUE(SameCuts(cuts, back));
  for (const char *bad : {"0.5,0.4", "0,0.5", "0.5,1", "0.5,0.5", "0.3,,0.6", "0x1p-1", "",
                          "0.5,1.5", "0.5,0.5000000000001"})
    EXPECT_NE(ParseNodes(bad, cuts), "") << bad;

  // The settings line carries them, so that a resume goes on with them.
  SettingOptions o;
  std::string error;
  ASSERT_TRUE(ParseSettingOption("--nodes", "0.25,0.75", o, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(CombinationError(o), "");
  o.strategy = Strategy::Arclength;
  EXPECT_EQ(CombinationError(o), "");
  o.strategy = Strategy::Fold;
  ASSERT_TRUE(ParseSettingOption("--free", "L", o, error));
  o.special.startAt = "ZANFEL.CSV:fold1";
  EXPECT_NE(CombinationError(o).find("not --continuation fold"), std::string::npos);
  ASSERT_TRUE(ParseSettingOption("--segments", "3", o, error));
  EXPECT_NE(error, ""); // not both
  OnePassSettings<Shot> table{{}, {1.0L, {1.0L}}, {1, 1, 0, 1, 0, 1}, {0.25L, 0.0L, 30.0L}};
  SettingOptions given;
  ParseSettingOption("--segments", "5", given, error);
  const RunSettings<OnePassSettings<Shot>> run = Settle(table, given);
  SettingOptions read;
  EXPECT_EQ(ParseSettingsText(SettingsText(run), read), "");
  ASSERT_TRUE(read.cuts);
  EXPECT_TRUE(SameCuts(*read.cuts, EqualSegments(5)));
  EXPECT_TRUE(DiffersFromTable(run, table));
  ParseSettingOption("--segments", "1", given = {}, error);
  EXPECT_FALSE(DiffersFromTable(Settle(table, given), table));
}

// An iteration-limit end names the segments whose trajectories ran out of
// integrator evaluations.
TEST(SegmentsTest, BudgetEndsNameTheSegments) {
  NewtonTrace trace;
  trace.NoteTrajectories(12, 2);
  trace.NoteSegments(0b110, 0);
  trace.NoteResiduals(1.0L);
  const std::string detail = IterationLimitDetail(DiagnoseIterationLimit(trace, kSolve));
  EXPECT_NE(detail.find("ran out of integrator evaluations in segments 2, 3 (try --budgets 4)"),
            std::string::npos)
      << detail;
  EXPECT_EQ(SegmentList(1UL << 30), "segment 31");
}

} // namespace
} // namespace zanfel
