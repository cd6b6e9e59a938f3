// LU decomposition by Crout's method with implicit scaling and partial
// pivoting, in place; the factors of a row permutation of A.
//
// LUDCMP(A, N, INDX, D) factorises the leading N x N block of A. On return A
// holds U on and above the diagonal and the multipliers of L below it (L's
// unit diagonal is not stored), both for the rows as permuted. INDX records
// the permutation as interchanges to be replayed in order: at column J, row J
// was exchanged with row INDX[J] >= J (J itself when none). D is +1 for an
// even number of interchanges and -1 for an odd one, so D times the product of
// U's diagonal is the determinant.
//
// The pivot of a column is the candidate largest relative to its row's
// largest magnitude in the original matrix; of equal candidates the first row
// wins. A zero pivot (a singular matrix without a zero row) becomes TINY,
// silently: the factorisation completes and the solution comes out huge but
// finite. A row that is entirely zero has no scale at all: LUDCMP then
// returns false with A as it was, and what follows is the caller's to decide
// (a solve of the shooting equations ends the run with the singular matrix's
// pause and status).
#pragma once

#include <cmath>

#include "runtime/types.hpp"

namespace zanfel {

// What a zero pivot becomes.
constexpr REAL TINY = 1.0E-20L;

// True when the factors are made; false for a matrix with an all-zero row.
template <int NP> [[nodiscard]] bool LUDCMP(GLNBYN<NP> &A, INT16 N, GLINDX<NP> &INDX, REAL &D) {
  GLNARRAY<NP> VV;
  D = 1.0L;
  for (int I = 1; I <= N; ++I) {
    REAL BIG = 0.0L;
    for (int J = 1; J <= N; ++J)
      if (fabsl(A(I, J)) > BIG)
        BIG = fabsl(A(I, J));
    if (BIG == 0.0L)
      return false;
    VV[I] = 1.0L / BIG;
  }
  for (int J = 1; J <= N; ++J) {
    for (int I = 1; I <= J - 1; ++I) {
      REAL SUM = A(I, J);
      for (int K = 1; K <= I - 1; ++K)
        SUM = SUM - A(I, K) * A(K, J);
      A(I, J) = SUM;
    }
    REAL BIG = 0.0L;
    // A column whose candidates are all zero keeps its own row as pivot row.
    int IMAX = J;
    for (int I = J; I <= N; ++I) {
      REAL SUM = A(I, J);
      for (int K = 1; K <= J - 1; ++K)
        SUM = SUM - A(I, K) * A(K, J);
      A(I, J) = SUM;
      const REAL DUM = VV[I] * fabsl(SUM);
      if (DUM > BIG) {
        BIG = DUM;
        IMAX = I;
      }
    }
    if (IMAX != J) {
      for (int K = 1; K <= N; ++K) {
        const REAL DUM = A(IMAX, K);
        A(IMAX, K) = A(J, K);
        A(J, K) = DUM;
      }
      D = -D;
      VV[IMAX] = VV[J];
    }
    INDX[J] = static_cast<INT16>(IMAX);
    if (A(J, J) == 0.0L)
      A(J, J) = TINY;
    if (J != N) {
      // One reciprocal per column; the multipliers are products, not quotients.
      const REAL DUM = 1.0L / A(J, J);
      for (int I = J + 1; I <= N; ++I)
        A(I, J) = A(I, J) * DUM;
    }
  }
  return true;
}

// Solves A·x = B with the factors and pivot record of LUDCMP; B becomes x.
// A and INDX are only read, so one factorisation serves any number of
// right-hand sides.
template <int NP>
void LUBKSB(const GLNBYN<NP> &A, INT16 N, const GLINDX<NP> &INDX, GLNARRAY<NP> &B) {
  int II = 0;
  for (int I = 1; I <= N; ++I) {
    const int IP = INDX[I];
    REAL SUM = B[IP];
    B[IP] = B[I];
    if (II != 0) {
      for (int J = II; J <= I - 1; ++J)
        SUM = SUM - A(I, J) * B[J];
    } else if (SUM != 0.0L) {
      II = I;
    }
    B[I] = SUM;
  }
  for (int I = N; I >= 1; --I) {
    REAL SUM = B[I];
    for (int J = I + 1; J <= N; ++J)
      SUM = SUM - A(I, J) * B[J];
    B[I] = SUM / A(I, I);
  }
}

} // namespace zanfel
