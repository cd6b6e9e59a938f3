// The application's side of a run: what a person sees of the engine's work.
// The window's frame and curve, the curve kept for the pictures drawn from
// the whole run, the progress display and the summary all follow from the
// engine's calls here, each fact noted once.
#pragma once

#include <vector>

#include "continuation/observer.hpp"
#include "plot/curve_pen.hpp"
#include "plot/syskord.hpp"
#include "runtime/console.hpp"

namespace zanfel {

// The console seams of a run: tests and the benchmark replace them to run
// without a console.
struct Hooks {
  bool (*keyPressed)() = KeyPressed;
  void (*waitForEnter)() = WaitForEnter;
};

// How the window draws a curve point its frame cannot place: as the six
// programs always have in their own runs (a pixel position beyond 16 bits
// ends the run with the range fault), or cut at the window's edge, which
// every other run does: its frame was not made for its curve.
enum class OffFrame { RangeFault, Clip };

class RunObserver final : public SweepObserver {
public:
  explicit RunObserver(const Hooks &hooks, OffFrame offFrame = OffFrame::RangeFault)
      : hooks_(hooks), offFrame_(offFrame) {}
  RunObserver(const RunObserver &) = delete;
  RunObserver &operator=(const RunObserver &) = delete;

  bool KeyPressed() override;
  void WaitForEnter() override;
  void AtSafePoint(REAL P) override;
  void PassBegun(const PassStart &pass) override;
  void CurveStarted(REAL H, REAL value) override;
  void Solved(REAL H, REAL value) override;
  void Recorded(const CurvePoint &point, REAL P, long records, int iterations) override;
  void LastChecked(int digits) override;
  void Resumed(const PassStart &pass, const std::vector<CurvePoint> &curve, REAL P,
               long records) override;
  void SettingsChanged(long fromRecord, const std::string &changes) override;
  void SweepEnded(SweepEnd why) override;
  void RunEnding() override;

private:
  void DrawFrame(const PassStart &pass);
  // What the summary counts and tables of a record's kind.
  void NoteKind(const CurvePoint &point);
  INT16 Column(REAL H) const;
  INT16 Row(REAL value) const;
  PixelPoint Pixel(REAL H, REAL value) const;
  void MoveTo(REAL H, REAL value);
  void LineTo(REAL H, REAL value);

  Hooks hooks_;
  bool labelled_ = false; // the run's CSV labels its records
  OffFrame offFrame_;
  CurvePen pen_;
  // The window's frame of the current pass and its world-to-pixel mapping.
  Frame frame_;
  FrameSettings settings_{};
  // Every record's point, for the pictures of the whole run.
  std::vector<CurvePoint> curve_;
};

} // namespace zanfel
