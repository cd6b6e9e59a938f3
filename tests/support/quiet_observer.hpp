// An observer that sees nothing and is asked nothing: for tests that drive
// the engine's parts directly.
#pragma once

#include "continuation/observer.hpp"

namespace zanfel::testing {

class QuietObserver final : public SweepObserver {
public:
  bool KeyPressed() override { return false; }
  void WaitForEnter() override {}
  void AtSafePoint(REAL) override {}
  void PassBegun(const PassStart &) override {}
  void CurveStarted(REAL, REAL) override {}
  void Solved(REAL, REAL) override {}
  void Recorded(const CurvePoint &, REAL, long, int) override {}
  void LastChecked(int) override {}
  void Resumed(const PassStart &, const std::vector<CurvePoint> &, REAL, long) override {}
  void SettingsChanged(long, const std::string &) override {}
  void SweepEnded(SweepEnd) override {}
  void RunEnding() override {}
};

} // namespace zanfel::testing
