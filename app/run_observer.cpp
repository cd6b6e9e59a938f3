#include "app/run_observer.hpp"

#include "app/curve_picture.hpp"
#include "app/profile_picture.hpp"
#include "app/progress.hpp"
#include "app/summary.hpp"
#include "graph/graph.hpp"
#include "runtime/interrupt.hpp"

namespace zanfel {

bool RunObserver::KeyPressed() {
  return hooks_.keyPressed();
}

void RunObserver::WaitForEnter() {
  hooks_.waitForEnter();
}

void RunObserver::AtSafePoint(REAL P) {
  summary::NoteP(P);
  EndIfInterrupted();
}

INT16 RunObserver::Column(REAL H) const {
  return PlotColumn(frame_, H, settings_.XI, settings_.MX1);
}

INT16 RunObserver::Row(REAL value) const {
  return PlotRow(frame_, value, settings_.YI, settings_.MY2);
}

PixelPoint RunObserver::Pixel(REAL H, REAL value) const {
  return PlotPoint(frame_, H, settings_.XI, settings_.MX1, value, settings_.YI, settings_.MY2);
}

void RunObserver::MoveTo(REAL H, REAL value) {
  if (offFrame_ == OffFrame::RangeFault)
    graph::MoveTo(Column(H), Row(value));
  else
    pen_.MoveTo(Pixel(H, value));
}

void RunObserver::LineTo(REAL H, REAL value) {
  if (offFrame_ == OffFrame::RangeFault)
    graph::LineTo(Column(H), Row(value));
  else
    pen_.LineTo(Pixel(H, value));
}

void RunObserver::DrawFrame(const PassStart &pass) {
  settings_ = pass.frame;
  SYSKORD(frame_, settings_.MX1, settings_.MX2, settings_.MY1, settings_.MY2, settings_.XI,
          settings_.YI, pass.checkGraphResult);
  // A window shown now and gone later was closed by the user.
  progress::NoteWindow();
  curve_picture::Watch(curve_, pass.plotted);
  profile_picture::Watch(pass.profileComponent);
  if (pass.alongArc)
    summary::CountFolds();
  if (pass.userPoints)
    summary::CountUserPoints();
  labelled_ = pass.labelled;
}

void RunObserver::NoteKind(const CurvePoint &point) {
  if (point.kind == RecordKind::Fold)
    summary::NoteFold();
  if (point.kind == RecordKind::User)
    summary::NoteUserPoint();
  if (point.kind == RecordKind::Branch)
    summary::NoteBranchPoint();
  summary::NoteCheck(point.digits);
  if (labelled_)
    summary::NoteLabelledRecord(LabelText({point.kind, point.number}), point.P, point.value);
}

void RunObserver::PassBegun(const PassStart &pass) {
  DrawFrame(pass);
  progress::NoteSweep(pass);
}

void RunObserver::CurveStarted(REAL H, REAL value) {
  MoveTo(H, value);
}

void RunObserver::Solved(REAL H, REAL value) {
  LineTo(H, value);
}

void RunObserver::Recorded(const CurvePoint &point, REAL P, long records, int iterations) {
  curve_.push_back(point);
  NoteKind(point);
  const long all = static_cast<long>(curve_.size());
  progress::AfterRecord(P, all, iterations, point.value, false);
  summary::NoteRecords(records, all, point.pass);
}

void RunObserver::LastChecked(int digits) {
  if (curve_.empty())
    return;
  curve_.back().digits = digits;
  summary::NoteCheck(digits);
}

void RunObserver::SettingsChanged(long fromRecord, const std::string &changes) {
  summary::NoteSettingsChange(fromRecord, changes);
}

void RunObserver::Resumed(const PassStart &pass, const std::vector<CurvePoint> &curve, REAL P,
                          long records) {
  if (pass.alongArc)
    summary::CountFolds();
  curve_ = curve;
  DrawFrame(pass);
  for (const CurvePoint &p : curve_)
    NoteKind(p);
  // The curve as the rows give it: from the first point (the run's initial
  // solve lies there as well) through every other.
  bool first = true;
  for (const CurvePoint &p : curve_) {
    if (first)
      MoveTo(p.H, p.value);
    LineTo(p.H, p.value);
    first = false;
  }
  progress::NoteSweep(pass);
  if (!curve_.empty())
    progress::AfterRecord(P, records, -1, curve_.back().value, true);
  summary::NoteRecords(records, records, pass.pass);
}

void RunObserver::SweepEnded(SweepEnd why) {
  summary::NoteSweepEnd(progress::SweepEndText(why, progress::WindowSeen()));
}

void RunObserver::RunEnding() {
  // The pictures first: the summary shown during the wait names them.
  graph::SavePictureAtEnd();
  curve_picture::WriteAtNormalEnd();
  // The final wait is there to look at the window; --no-window has none.
  if (graph::WindowWanted())
    hooks_.waitForEnter();
  graph::CloseGraph();
}

} // namespace zanfel
