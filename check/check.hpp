// The accuracy check of a record: the record's boundary-value problem solved
// once more, independently of the run, from the record's unknowns, with the
// Gauss-Legendre integrator (check/gauss.hpp) at tolerances far below the
// run's and Newton's method to matching accuracy, in REAL or in WIDE. The
// digits the record shares with that solve are the digits it has right, as
// far as the check itself can tell: the count never exceeds what the check's
// own accuracy holds.
//
// The check depends on the record alone (P, H, the unknowns, the parameters
// and the run's tolerances), never on the run's history, so a resumed run
// checks a record exactly as an unbroken one does.
#pragma once

#include <type_traits>

#include "check/check_choice.hpp"
#include "check/digits.hpp"
#include "check/gauss.hpp"
#include "runtime/masked_traps.hpp"
#include "shooting/model.hpp"

namespace zanfel {

// The check's tolerances and how many digits they can vouch for.
template <class R> struct CheckAccuracy {
  GaussTolerances<R> tol;
  R step;       // the relative forward-difference step of its Jacobian
  R target;     // Newton's correction test, relative to the unknowns
  int capacity; // the most digits the check can say are right
};

// 1e-5 of the run's tolerances, but no finer than the arithmetic R resolves
// with room for the errors of a whole trajectory.
template <class R> CheckAccuracy<R> AccuracyFor(REAL RELERR, REAL ABSERR) {
  const R floor = Epsilon<R>() * R(100);
  const R rel = R(RELERR) * R(1e-5L);
  CheckAccuracy<R> a{};
  a.tol.RELERR = rel > floor ? rel : floor;
  a.tol.ABSERR = R(ABSERR) * R(1e-5L);
  a.step = Sqrt(a.tol.RELERR);
  a.target = a.tol.RELERR;
  a.capacity = CapacityOf(a.tol.RELERR);
  return a;
}

// The outcome of one check: whether its solve converged, the digits right,
// and the checked unknowns and plotted value (rounded to REAL for the CSV).
template <int N> struct RecordCheck {
  int digits = kNotChecked;
  bool wide = false; // made in WIDE
  GLNARRAY<N> X;
  REAL value = 0.0L;
};

namespace check_detail {

constexpr int kGaussStages = 8; // order 16
constexpr int kNewtonIterations = 40;

template <class Model, class R> class CheckSolve {
public:
  static constexpr int N = Model::N, NEQN = Model::NEQN, NOUT = Model::NOUT;
  using Globals = typename Model::Globals;
  using Unknowns = Array1<R, 1, N>;
  using Ends = Array1<R, 1, NOUT>;

  CheckSolve(const Globals &record, const CheckAccuracy<R> &a)
      : record_(record), g_(record), accuracy_(a) {}

  // The end values of the trajectory from X; false when it cannot be
  // carried to its end or gives a value that is not finite.
  bool Trajectory(const Unknowns &X, Ends &YOUT) {
    g_.H = record_.H;
    std::array<R, NEQN> y{};
    Model::INITVAL(g_, X, View1<R>{y.data()});
    auto f = [this](R t, View1<const R> yi, View1<R> yp) { Model::DIFEQN(g_, t, yi, yp); };
    GaussIntegrator<R, NEQN, kGaussStages> integrator(accuracy_.tol);
    if (integrator.Integrate(f, R(0), R(1), y) != GaussEnd::Reached)
      return false;
    Model::OUTVAL(g_, X, View1<const R>{y.data()}, YOUT);
    for (int i = 1; i <= NOUT; ++i)
      if (!(Abs(YOUT[i]) <= R(1e300L)))
        return false;
    return true;
  }

  // Newton's method with a forward-difference Jacobian from X; false when it
  // does not meet its correction test.
  bool Newton(Unknowns &X) {
    for (int it = 0; it < kNewtonIterations; ++it) {
      Ends F0, F1;
      if (!Trajectory(X, F0))
        return false;
      std::array<std::array<R, N>, N> J{};
      std::array<R, N> minusF{};
      for (int j = 1; j <= N; ++j) {
        Unknowns Xj = X;
        const R d = accuracy_.step * (Abs(X[j]) > R(1) ? Abs(X[j]) : R(1));
        Xj[j] += d;
        if (!Trajectory(Xj, F1))
          return false;
        for (int i = 1; i <= N; ++i)
          J[i - 1][j - 1] = (F1[i] - F0[i]) / d;
      }
      for (int i = 1; i <= N; ++i)
        minusF[i - 1] = -F0[i];
      const std::array<R, N> dx = gauss_detail::SolveSmall<R, N>(J, minusF);
      R largest = 0;
      for (int j = 1; j <= N; ++j) {
        if (!(Abs(dx[j - 1]) <= R(1e300L)))
          return false;
        X[j] += dx[j - 1];
        const R scale = Abs(X[j]) > R(1e-300L) ? Abs(X[j]) : R(1);
        const R r = Abs(dx[j - 1]) / scale;
        largest = r > largest ? r : largest;
      }
      if (largest <= accuracy_.target)
        return true;
    }
    return false;
  }

private:
  const Globals &record_;
  Globals g_; // the check's own state: the hooks may write H
  CheckAccuracy<R> accuracy_;
};

// The check of the record in `record` (its P, H, unknowns and end values
// YOUT[plotIndex] as recorded) in the arithmetic R.
template <class Model, class R>
RecordCheck<Model::N> CheckIn(const typename Model::Globals &record, int plotIndex) {
  constexpr int N = Model::N;
  const CheckAccuracy<R> a = AccuracyFor<R>(record.solve.RELERR, record.solve.ABSERR);
  CheckSolve<Model, R> solve(record, a);
  Array1<R, 1, N> X;
  for (int i = 1; i <= N; ++i)
    X[i] = R(record.X[i]);
  Array1<R, 1, Model::NOUT> YOUT;
  RecordCheck<N> out;
  out.wide = std::is_same_v<R, WIDE>;
  if (!solve.Newton(X) || !solve.Trajectory(X, YOUT)) {
    out.digits = kCheckFailed;
    return out;
  }
  int digits = SharedDigits(R(record.YOUT[plotIndex]), YOUT[plotIndex], a.capacity);
  for (int i = 1; i <= N; ++i) {
    const int d = SharedDigits(R(record.X[i]), X[i], a.capacity);
    digits = d < digits ? d : digits;
    out.X[i] = REAL(X[i]);
  }
  out.value = REAL(YOUT[plotIndex]);
  out.digits = digits;
  return out;
}

} // namespace check_detail

// Whether the check of this model can be made in WIDE.
template <class Model> constexpr bool kChecksWide = GenericOver<Model, WIDE>;

// The check of a record, in WIDE when the choice asks for 128 bits and the
// model is written over any real type, in REAL otherwise. Traps are masked:
// the check's iterates may leave the region where the model is defined,
// which makes that check fail, not the run.
template <class Model>
RecordCheck<Model::N> CheckRecord(const typename Model::Globals &record, int plotIndex,
                                  const CheckChoice &choice) {
  const MaskedTraps masked;
  if constexpr (kChecksWide<Model>) {
    if (choice.precision == 128)
      return check_detail::CheckIn<Model, WIDE>(record, plotIndex);
  }
  return check_detail::CheckIn<Model, REAL>(record, plotIndex);
}

} // namespace zanfel
