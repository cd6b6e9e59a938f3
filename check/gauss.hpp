// The integrator of the accuracy check: the implicit Gauss-Legendre
// collocation method of S stages (order 2S), generic over the real type R,
// with the step chosen adaptively by step doubling. Independent of the
// run's Fehlberg integrator: other formulas, another error estimate, another
// arithmetic when R is WIDE.
//
// The coefficients follow from their definition, in R: the nodes c_i are the
// zeros of the Legendre polynomial P_S moved to [0, 1], the weights b_i the
// Gauss quadrature weights there, and row i of A integrates the Lagrange
// polynomials of the nodes from 0 to c_i, that is A c^(k-1) = c^k / k for
// k = 1..S.
//
// One step solves the stage equations Z_i = h sum_j A_ij f(t + c_j h, y + Z_j)
// by fixed-point iteration; a step whose iteration does not contract is
// retried shorter, so the method needs no Jacobian of f. The error of a step
// of length h is estimated from one step of h against two of h/2: their
// difference over 2^(2S) - 1 is the error of the two half steps, which the
// step goes on with.
#pragma once

#include <array>

#include "shooting/real_math.hpp"

namespace zanfel {

template <class R, int S> struct GaussTableau {
  std::array<R, S> c{}, b{};
  std::array<std::array<R, S>, S> A{};
};

namespace gauss_detail {

// P_S(x) and its derivative by the three-term recurrence.
template <class R, int S> void Legendre(R x, R &p, R &dp) {
  R p0 = 1, p1 = x;
  for (int n = 2; n <= S; ++n) {
    const R p2 = (R(2 * n - 1) * x * p1 - R(n - 1) * p0) / R(n);
    p0 = p1;
    p1 = p2;
  }
  p = p1;
  dp = R(S) * (x * p1 - p0) / (x * x - R(1));
}

// Solves M a = r in place by elimination with partial pivoting (M small and
// regular: a Vandermonde matrix of distinct nodes).
template <class R, int S>
std::array<R, S> SolveSmall(std::array<std::array<R, S>, S> M, std::array<R, S> r) {
  for (int k = 0; k < S; ++k) {
    int pivot = k;
    for (int i = k + 1; i < S; ++i)
      if (Abs(M[i][k]) > Abs(M[pivot][k]))
        pivot = i;
    std::swap(M[k], M[pivot]);
    std::swap(r[k], r[pivot]);
    for (int i = k + 1; i < S; ++i) {
      const R m = M[i][k] / M[k][k];
      for (int j = k; j < S; ++j)
        M[i][j] -= m * M[k][j];
      r[i] -= m * r[k];
    }
  }
  std::array<R, S> a{};
  for (int k = S - 1; k >= 0; --k) {
    R sum = r[k];
    for (int j = k + 1; j < S; ++j)
      sum -= M[k][j] * a[j];
    a[k] = sum / M[k][k];
  }
  return a;
}

} // namespace gauss_detail

template <class R, int S> GaussTableau<R, S> MakeGaussTableau() {
  GaussTableau<R, S> t;
  const R pi = R(4) * Atan(R(1));
  for (int i = 0; i < S; ++i) {
    // The i-th zero from the largest down, from its classical first guess.
    R x = Cos(pi * (R(i) + R(0.75L)) / (R(S) + R(0.5L)));
    R p = 0, dp = 0;
    for (int it = 0; it < 100; ++it) {
      gauss_detail::Legendre<R, S>(x, p, dp);
      const R dx = p / dp;
      x -= dx;
      if (Abs(dx) <= Epsilon<R>())
        break;
    }
    gauss_detail::Legendre<R, S>(x, p, dp);
    t.c[S - 1 - i] = (R(1) + x) / R(2);
    t.b[S - 1 - i] = R(1) / ((R(1) - x * x) * dp * dp);
  }
  std::array<std::array<R, S>, S> V{};
  for (int k = 0; k < S; ++k)
    for (int j = 0; j < S; ++j)
      V[k][j] = k == 0 ? R(1) : V[k - 1][j] * t.c[j];
  for (int i = 0; i < S; ++i) {
    std::array<R, S> rhs{};
    R power = t.c[i];
    for (int k = 0; k < S; ++k) {
      rhs[k] = power / R(k + 1);
      power *= t.c[i];
    }
    t.A[i] = gauss_detail::SolveSmall<R, S>(V, rhs);
  }
  return t;
}

template <class R, int S> const GaussTableau<R, S> &Tableau() {
  static const GaussTableau<R, S> t = MakeGaussTableau<R, S>();
  return t;
}

// The tolerances of the check's integration: a step is accepted when the
// estimated error of every component is at most RELERR |y| + ABSERR.
template <class R> struct GaussTolerances {
  R RELERR, ABSERR;
};

// How an integration ended.
enum class GaussEnd { Reached, StepTooSmall, TooManySteps };

template <class R, int NEQN, int S> class GaussIntegrator {
public:
  using State = std::array<R, NEQN>;
  static constexpr int kMaxSteps = 200000;
  static constexpr int kMaxSweeps = 60; // fixed-point iterations per step

  explicit GaussIntegrator(GaussTolerances<R> tol) : tol_(tol) {}

  // Carries y from t0 to t1 under F(t, y, yp) (1-based views).
  template <class F> GaussEnd Integrate(F &f, R t0, R t1, State &y) {
    R t = t0, h = (t1 - t0) / R(16);
    for (int steps = 0; steps < kMaxSteps; ++steps) {
      if (t >= t1)
        return GaussEnd::Reached;
      const bool last = t + h >= t1;
      const R step = last ? t1 - t : h;
      R ratio = 0;
      if (!TryStep(f, t, step, y, ratio)) {
        h = step / R(4);
      } else if (ratio <= R(1)) {
        t = last ? t1 : t + step;
        y = half_;
        h = step * Growth(ratio);
      } else {
        h = step * Growth(ratio);
      }
      if (!(h > Epsilon<R>() * R(64) * (Abs(t) + R(1))))
        return GaussEnd::StepTooSmall;
    }
    return GaussEnd::TooManySteps;
  }

  // One step of length h from (t, y) into `out`; false when the stage
  // iteration does not converge.
  template <class F> bool Step(F &f, R t, R h, const State &y, State &out) {
    const GaussTableau<R, S> &g = Tableau<R, S>();
    State f0;
    Rhs(f, t, y, f0);
    for (int i = 0; i < S; ++i)
      for (int k = 0; k < NEQN; ++k)
        Z_[i][k] = g.c[i] * h * f0[k];
    R previous = 0;
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
      for (int i = 0; i < S; ++i) {
        State yi;
        for (int k = 0; k < NEQN; ++k)
          yi[k] = y[k] + Z_[i][k];
        Rhs(f, t + g.c[i] * h, yi, F_[i]);
      }
      R change = 0;
      for (int i = 0; i < S; ++i)
        for (int k = 0; k < NEQN; ++k) {
          R z = 0;
          for (int j = 0; j < S; ++j)
            z += g.A[i][j] * F_[j][k];
          z *= h;
          const R scale = Abs(y[k]) + Abs(z) + tol_.ABSERR + Epsilon<R>();
          const R d = Abs(z - Z_[i][k]) / scale;
          change = d > change || d != d ? d : change; // a NaN is the largest change
          Z_[i][k] = z;
        }
      if (change <= Epsilon<R>() * R(4)) {
        for (int k = 0; k < NEQN; ++k) {
          R sum = 0;
          for (int j = 0; j < S; ++j)
            sum += g.b[j] * F_[j][k];
          out[k] = y[k] + h * sum;
        }
        return true;
      }
      // Past the first sweeps the iteration must contract, and fast
      // enough to be worth going on with.
      if (sweep >= 3 && !(change < previous * R(0.5L)))
        return false;
      previous = change;
    }
    return false;
  }

private:
  template <class F> static void Rhs(F &f, R t, const State &y, State &yp) {
    f(t, View1<const R>{y.data()}, View1<R>{yp.data()});
  }

  // The step doubled: one of h into full_, two of h/2 into half_, and the
  // ratio of the estimated error of half_ to the tolerance.
  template <class F> bool TryStep(F &f, R t, R h, const State &y, R &ratio) {
    State mid;
    if (!Step(f, t, h, y, full_) || !Step(f, t, h / R(2), y, mid) ||
        !Step(f, t + h / R(2), h / R(2), mid, half_))
      return false;
    const R denominator = Pow(R(2), R(2 * S)) - R(1);
    ratio = 0;
    for (int k = 0; k < NEQN; ++k) {
      const R error = Abs(half_[k] - full_[k]) / denominator;
      const R allowed = tol_.RELERR * Abs(half_[k]) + tol_.ABSERR;
      if (allowed > R(0)) {
        const R r = error / allowed;
        ratio = r > ratio || r != r ? r : ratio;
      } else if (error != R(0)) {
        ratio = R(1e30L);
      }
    }
    return ratio == ratio; // a NaN end is no step
  }

  // The next step from the error ratio of this one: the error of a step goes
  // with h^(2S+1).
  static R Growth(R ratio) {
    if (ratio < R(1e-30L))
      return R(4);
    const R factor = R(0.8L) * Pow(ratio, R(-1) / R(2 * S + 1));
    return factor > R(4) ? R(4) : factor < R(0.2L) ? R(0.2L) : factor;
  }

  GaussTolerances<R> tol_;
  std::array<State, S> Z_{}, F_{};
  State full_{}, half_{};
};

} // namespace zanfel
