#include "nonlinear/limit_reason.hpp"

#include <cmath>
#include <cstdio>

namespace zanfel {

namespace {

bool Finite(REAL v) {
  return std::isfinite(v);
}

// The smallest residual norm among the kept iterations [from, to).
REAL LowestF(const NewtonTrace &t, int from, int to) {
  REAL low = t.Oldest(from).ERRF;
  for (int k = from + 1; k < to; ++k)
    if (t.Oldest(k).ERRF < low)
      low = t.Oldest(k).ERRF;
  return low;
}

bool AnyNotFinite(const NewtonTrace &t) {
  for (int k = 0; k < t.Kept(); ++k) {
    const NewtonTrace::Iteration &it = t.Oldest(k);
    if (!Finite(it.ERRF) || (it.corrected && !Finite(it.ERRX)))
      return true;
  }
  return !Finite(t.largestX);
}

bool Diverged(const NewtonTrace &t, const LimitDiagnosis &d) {
  if (AnyNotFinite(t))
    return true;
  return d.latestF > kGrowth * d.lowestF && d.latestF > t.Oldest(0).ERRF;
}

// Near the tolerance all through the last iterations, and the later half no
// lower than a tenth of the earlier half: no more progress.
bool Stalled(const NewtonTrace &t, const LimitDiagnosis &d) {
  const int kept = t.Kept();
  if (kept < 2 || d.highestF > kNearTolerance * d.settings.TOLF)
    return false;
  const int half = kept / 2;
  return LowestF(t, half, kept) >= 0.1L * LowestF(t, 0, half);
}

// The next power of ten above v, and one more: a tolerance the stalled
// residuals meet with room to spare.
REAL LooserTolerance(REAL v) {
  const REAL exponent = ceill(log10l(v));
  return powl(10.0L, exponent + 1.0L);
}

INT16 MoreBudgets(INT16 budgets) {
  const long more = 4L * budgets;
  return static_cast<INT16>(more > 32767 ? 32767 : more);
}

std::string BudgetsDetail(const LimitDiagnosis &d) {
  std::string s = std::to_string(d.cutShort) + (d.cutShort == 1 ? " trajectory" : " trajectories") +
                  " of the last solve ran out of integrator evaluations";
  if (d.segmentsCut != 0)
    s += " in " + SegmentList(d.segmentsCut);
  s += " (";
  if (d.settings.budgets > 1)
    s += std::to_string(d.settings.budgets) + " budgets each; ";
  return s + "try --budgets " + std::to_string(MoreBudgets(d.settings.budgets)) + ")";
}

std::string DivergedDetail(const LimitDiagnosis &d) {
  if (!Finite(d.latestF) || !Finite(d.highestF) || !Finite(d.largestX))
    return "Newton diverged: the residuals or unknowns are no longer finite (try a smaller --step)";
  return "Newton diverged: residuals grew from " + TwoDigits(d.lowestF) + " to " +
         TwoDigits(d.latestF) + " while |X| reaches " + TwoDigits(d.largestX) +
         " (try a smaller --step)";
}

std::string StalledDetail(const LimitDiagnosis &d) {
  return "residuals stalled at " + TwoDigits(d.lowestF) +
         " above TOLF = " + TwoDigits(d.settings.TOLF) + " while |X| reaches " +
         TwoDigits(d.largestX) + " (try --tolf " + TwoDigits(LooserTolerance(d.lowestF)) + ")";
}

std::string NotConvergedHead(const LimitDiagnosis &d) {
  return "Newton did not converge in NTRIAL = " + std::to_string(d.settings.NTRIAL) +
         " iterations: residuals between " + TwoDigits(d.lowestF) + " and " +
         TwoDigits(d.highestF) + " in the last " + std::to_string(d.kept);
}

// Past a fold a smaller step or more iterations only fail again.
std::string TurningDetail(const LimitDiagnosis &d) {
  return NotConvergedHead(d) + ", the Jacobian's determinant changing sign " +
         std::to_string(d.signChanges) +
         " times: the curve turns back before this P (try --continuation arclength)";
}

std::string NotConvergedDetail(const LimitDiagnosis &d) {
  if (d.iterations == 0)
    return "NTRIAL = " + std::to_string(d.settings.NTRIAL) +
           " allows no iteration (try --ntrial 100)";
  return NotConvergedHead(d) + " (try a smaller --step or a larger --ntrial)";
}

} // namespace

std::string TwoDigits(REAL v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2Lg", v);
  std::string s(buf);
  // 4.7e+04 -> 4.7e4, 2.1e-05 -> 2.1e-5.
  const std::size_t e = s.find('e');
  if (e == std::string::npos)
    return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  const bool negative = exponent[0] == '-';
  const std::size_t digits = exponent.find_first_not_of("+-0");
  return mantissa + "e" + (negative ? "-" : "") +
         (digits == std::string::npos ? "0" : exponent.substr(digits));
}

std::string SegmentList(unsigned long mask) {
  std::string list;
  int count = 0;
  for (int k = 1; k <= 64; ++k)
    if (mask >> (k - 1) & 1UL) {
      list += (count++ > 0 ? ", " : "") + std::to_string(k);
    }
  return (count == 1 ? "segment " : "segments ") + list;
}

LimitDiagnosis DiagnoseIterationLimit(const NewtonTrace &trace, const SolveSettings &settings) {
  LimitDiagnosis d;
  d.settings = settings;
  d.iterations = trace.iterations;
  d.trajectories = trace.trajectories;
  d.cutShort = trace.cutShort;
  d.cutShortLastJacobian = trace.cutShortLastJacobian;
  d.segmentsCut = trace.segmentsCut;
  d.largestX = trace.largestX;
  d.kept = trace.Kept();
  d.signChanges = trace.signChanges;
  if (d.kept > 0) {
    d.lowestF = LowestF(trace, 0, d.kept);
    d.highestF = trace.Oldest(0).ERRF;
    for (int k = 1; k < d.kept; ++k)
      if (!(trace.Oldest(k).ERRF <= d.highestF))
        d.highestF = trace.Oldest(k).ERRF;
    d.latestF = trace.Oldest(d.kept - 1).ERRF;
  }
  if (d.cutShort > 0)
    d.kind = LimitKind::Budgets;
  else if (d.kept > 0 && Diverged(trace, d))
    d.kind = LimitKind::Diverged;
  else if (Stalled(trace, d))
    d.kind = LimitKind::Stalled;
  else if (d.signChanges >= kTurningSignChanges)
    d.kind = LimitKind::Turning;
  else
    d.kind = LimitKind::NotConverged;
  return d;
}

std::string IterationLimitDetail(const LimitDiagnosis &d) {
  switch (d.kind) {
  case LimitKind::Budgets:
    return BudgetsDetail(d);
  case LimitKind::Diverged:
    return DivergedDetail(d);
  case LimitKind::Stalled:
    return StalledDetail(d);
  case LimitKind::Turning:
    return TurningDetail(d);
  case LimitKind::NotConverged:
    break;
  }
  return NotConvergedDetail(d);
}

std::string IterationLimitReason(std::string_view pText, const LimitDiagnosis &d) {
  return "iteration limit at P = " + std::string(pText) + ": " + IterationLimitDetail(d);
}

} // namespace zanfel
