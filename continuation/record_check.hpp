// The check of a record (check/check.hpp) where the engine writes it: which
// records are checked, and what their CSV rows show of it.
#pragma once

#include <string>
#include <string_view>

#include "check/check.hpp"
#include "report/record_kind.hpp"
#include "report/results_csv.hpp"
#include "runtime/write_all.hpp"

namespace zanfel {

// Why a check in binary128 is made in 80 bits.
inline constexpr std::string_view kNarrowModelNote = "the model is written over 80-bit reals alone";

// The check of the record about to be written as row `row`, when the run's
// choice wants it: a labelled one, the last of its sweep, every K-th.
template <class Model>
RecordCheck<Model::N> CheckIfWanted(const CheckChoice &choice, long row,
                                    const typename Model::Globals &g, int plotIndex,
                                    RecordKind kind, bool lastOfSweep) {
  if (!choice.Wants(row, kind != RecordKind::Plain, lastOfSweep))
    return RecordCheck<Model::N>{};
  return CheckRecord<Model>(g, plotIndex, choice);
}

// Whether the run asks for a binary128 check that the model cannot make.
template <class Model> bool NarrowCheck(const CheckChoice &choice) {
  return choice.on && choice.precision == 128 && !kChecksWide<Model>;
}

// The CSV head's note on the check: how it is made, in which arithmetic,
// and why not in binary128 where that was asked for and the model cannot.
template <class Model> std::string CheckHeadNote(const CheckChoice &choice) {
  const bool wide = choice.precision == 128 && kChecksWide<Model>;
  std::string note = "check: Newton's method over a Gauss-Legendre integrator of order 16 at 1e-5 "
                     "of the run's tolerances, in ";
  note += wide ? "binary128" : "80 bits";
  if (NarrowCheck<Model>(choice))
    note += ", not binary128 as asked: " + std::string(kNarrowModelNote);
  return note;
}

// Said once at the start, on standard error, where a binary128 check was
// asked for and is made in 80 bits.
inline void NoteNarrowCheck(std::string_view program) {
  const std::string line = std::string(program) +
                           ": --check-digits-precision 128: the records are checked in 80 bits: " +
                           std::string(kNarrowModelNote) + '\n';
  WriteAll(2, line.data(), line.size());
}

// The check's columns of the row.
template <int N, int NOUT>
void PutCheck(CsvRow<N, NOUT> &row, const CheckChoice &choice, const RecordCheck<N> &check) {
  row.withCheck = choice.on;
  row.digits.value = check.digits;
  const bool present = check.digits >= 0;
  for (int I = 1; I <= N; ++I)
    row.checkX[I] = {present, check.X[I]};
  row.checkV = {present, check.value};
}

} // namespace zanfel
