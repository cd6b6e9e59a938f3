// The check of a record (check/check.hpp) where the engine writes it: which
// records are checked, and what their CSV rows show of it.
#pragma once

#include "check/check.hpp"
#include "report/record_kind.hpp"
#include "report/results_csv.hpp"

namespace zanfel {

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
