// What the continuation engine tells the application around it, and the two
// questions it asks (a key, the wait for Enter). The engine solves, writes the
// records and steps P; everything a person sees (the window, the pictures,
// the progress display, the summary line) follows from these calls, so each
// fact about the run is learnt in one place.
//
// Called per record and per Newton iteration, never inside a trajectory: the
// hot path stays free of virtual calls.
#pragma once

#include <vector>

#include "continuation/settings.hpp"
#include "report/record_kind.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// Why a sweep stopped. Records: after the records asked for. MinStep: along
// the arclength, the step had to fall below its minimum to go on.
enum class SweepEnd { LeftRange, Key, Records, MinStep };

// One point of the plotted curve per record: the pass it belongs to (counted
// from 1 in the run), H and the plotted end value; the record's kind (a fold:
// a turning point of the curve in P), its P, the running number of a
// numbered kind (fold2), and with --check-digits the digits its check found
// right (kNotChecked, kCheckFailed).
struct CurvePoint {
  int pass;
  REAL H;
  REAL value;
  RecordKind kind = RecordKind::Plain;
  REAL P = 0.0L;
  long number = 0;
  int digits = kNotChecked;
};

// A pass about to start: its number in the run, its frame, and what the
// vertical axis shows. `checkGraphResult` is shoot_a1's check of the graphics.
// `startP` and [P1, P2] are the pass's sweep: P goes from startP towards P2
// when `upwards`, towards P1 otherwise; `alongArc`, along the arclength,
// where folds can be passed.
struct PassStart {
  int pass;
  const FrameSettings &frame;
  bool checkGraphResult;
  const char *plotted;
  REAL startP, P1, P2;
  bool upwards;
  bool alongArc = false;
  // The CSV labels the records (along the arclength, or with special points
  // asked for); `userPoints`: --at names values of P.
  bool labelled = false;
  bool userPoints = false;
  long profileComponent = 0; // the component ZANFEL.PROFILES.svg shows; 0: no profiles
};

class SweepObserver {
public:
  // Whether a key stops the sweep; asked after every record.
  virtual bool KeyPressed() = 0;
  // The waits for Enter of the run's end.
  virtual void WaitForEnter() = 0;
  // Between two Newton iterations and two continuation steps, with every
  // record so far whole in the files: P being solved for; the run may end
  // here on a stop signal.
  virtual void AtSafePoint(REAL P) = 0;
  // A pass begins: the frame is drawn.
  virtual void PassBegun(const PassStart &pass) = 0;
  // The initial solve of a pass gave the curve's first point.
  virtual void CurveStarted(REAL H, REAL value) = 0;
  // A continuation step was solved; its record is written next.
  virtual void Solved(REAL H, REAL value) = 0;
  // The record (and its row) of `point` is in the files; `records` counts
  // the results file's records, P is the record's, `iterations` the Newton
  // iterations of its solve.
  virtual void Recorded(const CurvePoint &point, REAL P, long records, int iterations) = 0;
  // The sweep's last record, which was not known to be the last when its
  // row was written, has been checked since: the digits its check found.
  virtual void LastChecked(int digits) = 0;
  // A resumed sweep: the curve of the records kept, the last P, the count.
  virtual void Resumed(const PassStart &pass, const std::vector<CurvePoint> &curve, REAL P,
                       long records) = 0;
  // A resume goes on with other solver settings from record `fromRecord`
  // on: `changes` says which ("--budgets 16 (was 4)").
  virtual void SettingsChanged(long fromRecord, const std::string &changes) = 0;
  virtual void SweepEnded(SweepEnd why) = 0;
  // The results files are closed: the pictures written, the final wait,
  // the window closed.
  virtual void RunEnding() = 0;

protected:
  ~SweepObserver() = default;
};

} // namespace zanfel
