// A client of a (virtual) X display that acts as the person at the window
// would: key presses, the close button, another window dragged over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zanfel::testing {

class XClient {
public:
  explicit XClient(const std::string &display);
  ~XClient();
  XClient(const XClient &) = delete;
  XClient &operator=(const XClient &) = delete;
  bool Connected() const { return display_ != nullptr; }

  // The top-level window whose title starts with `prefix`; 0 when none.
  unsigned long FindWindow(const std::string &prefix);
  std::string Title(unsigned long window);
  // Presses and lets go of the key named by its X keysym name ("Shift_L",
  // "a", "Return"), with the window focused.
  void PressKey(unsigned long window, const std::string &keysym);
  // What the window manager sends when the close button is clicked.
  void Close(unsigned long window);
  // The window's pixels as 0xRRGGBB, row by row.
  std::vector<std::uint32_t> Pixels(unsigned long window);
  // Maps a window over it, then takes it away, as dragging one across would.
  void CoverAndUncover(unsigned long window);

private:
  void *display_ = nullptr;
};

} // namespace zanfel::testing
