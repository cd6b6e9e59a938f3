// The graphics library on SDL2 and SDL2_gfx (the PNG in png.cpp, the loss of
// the display in display_loss.cpp).
//
// All drawing goes to one 640 x 480 palette-indexed canvas through one SDL
// software renderer that lives for the whole run: SDL2_gfx keeps its glyph
// textures per renderer and misbehaves once that renderer is gone. The canvas
// palette stays the standard one, so white always maps to index 15 whatever
// the background colour; the background is applied only where the picture is
// shown (window, snapshot, CanvasColour).
//
// The window is a second, optional view of the canvas, refreshed by copying
// the canvas onto the window surface.
//
// The programs run with floating-point traps enabled; SDL, the libraries it
// loads and libpng raise harmless flags of their own, so every entry point
// that reaches them masks the traps for its duration.
#include "graph/graph.hpp"
#include "graph/display_loss.hpp"
#include "graph/png.hpp"
#include "graph/window_keys.hpp"
#include "runtime/masked_traps.hpp"
#include "runtime/whole_file.hpp"
#include "runtime/write_all.hpp"

#include <SDL2/SDL.h>
#include <SDL2/SDL2_gfxPrimitives.h>

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/console.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"

namespace graph {

namespace {

using zanfel::MaskedTraps;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr INT16 kVga = 9;   // driver code reported by detection
constexpr INT16 kVgaHi = 2; // its 640 x 480 16-colour mode
constexpr INT16 grNoLoadMem = -5;
constexpr WORD kWhite = 15;

constexpr std::uint32_t kStandardPalette[16] = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

struct State {
  SDL_Surface *canvas = nullptr;
  SDL_Renderer *renderer = nullptr;
  bool open = false;       // between InitGraph and CloseGraph
  bool savedAtEnd = false; // the end's picture is written: nothing is drawn after it
  INT16 result = grOk;
  WORD background = 0;
  INT16 x = 0, y = 0; // current position

  bool videoStarted = false;
  SDL_Window *window = nullptr;
  bool windowVisible = false;
  bool closeRequested = false;     // the window's close button, remembered
  bool lost = false;               // the display went away: SDL is not asked again
  SDL_Rect changed = {0, 0, 0, 0}; // canvas part the window does not show yet

  int recordFd = -1;
};

State s;
// Whether a picture of this run was written; read by the summary of the run
// on its way out.
volatile sig_atomic_t pictureSaved = 0;

std::uint32_t ShownColour(int index) {
  if (index == 0)
    return kStandardPalette[s.background];
  return index < 16 ? kStandardPalette[index] : 0;
}

// One line of the call log, written through at once so that a fatal end
// loses nothing.
void Record(const std::string &line) {
  if (s.recordFd < 0)
    return;
  std::string text = line + "\n";
  zanfel::WriteAll(s.recordFd, text.data(), text.size());
}

std::string Num(int v) {
  return std::to_string(v);
}

bool windowWanted = true;

bool DisplayConfigured() {
  if (!windowWanted)
    return false;
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
    const char *v = std::getenv(name);
    if (v && *v)
      return true;
  }
  return false;
}

bool CreateCanvas() {
  if (s.canvas)
    return true;
  s.canvas = SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 8, SDL_PIXELFORMAT_INDEX8);
  if (!s.canvas)
    return false;
  SDL_Color colours[256] = {};
  for (int i = 0; i < 256; ++i) {
    std::uint32_t c = i < 16 ? kStandardPalette[i] : 0;
    colours[i] = {Uint8(c >> 16), Uint8(c >> 8), Uint8(c), 255};
  }
  SDL_SetPaletteColors(s.canvas->format->palette, colours, 0, 256);
  s.renderer = SDL_CreateSoftwareRenderer(s.canvas);
  if (!s.renderer) {
    SDL_FreeSurface(s.canvas);
    s.canvas = nullptr;
    return false;
  }
  return true;
}

// Copies the changed part of the canvas, in the colours it shows, onto the
// window.
void Refresh() {
  if (!s.windowVisible || s.changed.w <= 0 || s.changed.h <= 0)
    return;
  SDL_Surface *target = SDL_GetWindowSurface(s.window);
  if (!target)
    return;
  SDL_RenderFlush(s.renderer);
  SDL_Palette *palette = s.canvas->format->palette;
  SDL_Color normal = palette->colors[0];
  std::uint32_t c = ShownColour(0);
  SDL_Color shown = {Uint8(c >> 16), Uint8(c >> 8), Uint8(c), 255};
  SDL_SetPaletteColors(palette, &shown, 0, 1);
  SDL_Rect source = s.changed, place = s.changed;
  SDL_BlitSurface(s.canvas, &source, target, &place);
  SDL_SetPaletteColors(palette, &normal, 0, 1);
  SDL_UpdateWindowSurfaceRects(s.window, &s.changed, 1);
  s.changed = {0, 0, 0, 0};
}

// Adds the box x1..x2, y1..y2 (inclusive, any order, clipped to the canvas)
// to the part the window has yet to show.
void MarkChanged(int x1, int y1, int x2, int y2) {
  if (x1 > x2)
    std::swap(x1, x2);
  if (y1 > y2)
    std::swap(y1, y2);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, kWidth - 1);
  y2 = std::min(y2, kHeight - 1);
  if (x1 > x2 || y1 > y2)
    return;
  SDL_Rect box = {x1, y1, x2 - x1 + 1, y2 - y1 + 1};
  if (s.changed.w <= 0 || s.changed.h <= 0)
    s.changed = box;
  else
    SDL_UnionRect(&s.changed, &box, &s.changed);
}

void MarkAllChanged() {
  MarkChanged(0, 0, kWidth - 1, kHeight - 1);
}

void HideWindow() {
  if (s.windowVisible)
    SDL_HideWindow(s.window);
  s.windowVisible = false;
}

// Key presses that do not count leave the queue; the others stay.
int KeepCountingKeys(void *, SDL_Event *e) {
  return e->type != SDL_KEYDOWN || CountsAsKey(e->key.keysym) ? 1 : 0;
}

// Takes every waiting event except key presses that count, which stay queued
// for the key test; remembers a close request and redraws an exposed window.
void PumpEvents() {
  if (!s.window || s.lost)
    return;
  SDL_PumpEvents();
  bool exposed = false;
  const Uint32 ranges[2][2] = {{SDL_FIRSTEVENT, SDL_KEYDOWN - 1}, {SDL_KEYDOWN + 1, SDL_LASTEVENT}};
  for (const auto &range : ranges) {
    SDL_Event events[64];
    int n;
    while ((n = SDL_PeepEvents(events, 64, SDL_GETEVENT, range[0], range[1])) > 0) {
      for (int i = 0; i < n; ++i) {
        const SDL_Event &e = events[i];
        if (e.type == SDL_QUIT)
          s.closeRequested = true;
        else if (e.type == SDL_WINDOWEVENT) {
          switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            s.closeRequested = true;
            break;
          case SDL_WINDOWEVENT_EXPOSED:
          case SDL_WINDOWEVENT_SHOWN:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            exposed = true;
            break;
          default:
            break;
          }
        }
      }
    }
  }
  SDL_FilterEvents(KeepCountingKeys, nullptr);
  // The user closed the window: it goes, the sweep sees a key.
  if (s.closeRequested)
    HideWindow();
  else if (exposed) {
    MarkAllChanged();
    Refresh();
  }
}

// Every operation starts here: the window stays responsive while drawing.
void Poll() {
  PumpEvents();
}

// The window follows every change at once: copying the changed box costs
// far less than the computation between two drawing calls, and a picture
// that lagged behind would stay stale while the program computes or waits
// for Enter.
void Changed(int x1, int y1, int x2, int y2) {
  MarkChanged(x1, y1, x2, y2);
  Refresh();
}

// Standard error on /dev/null while alive, unless it is a terminal: the
// display libraries report a display they cannot reach there, and the
// fallback to off-screen drawing is silent.
class QuietStandardError {
public:
  QuietStandardError() {
    if (isatty(2) == 1)
      return;
    saved_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0)
      dup2(null, 2);
    if (null >= 0)
      close(null);
  }
  ~QuietStandardError() {
    if (saved_ < 0)
      return;
    dup2(saved_, 2);
    close(saved_);
  }
  QuietStandardError(const QuietStandardError &) = delete;
  QuietStandardError &operator=(const QuietStandardError &) = delete;

private:
  int saved_ = -1;
};

void LoseWindow() {
  s.lost = true;
  s.closeRequested = true;
  s.windowVisible = false;
}

void OpenWindow() {
  if (s.window)
    return; // reused as it is; a window the user closed stays closed

  if (!DisplayConfigured())
    return;
  QuietStandardError quiet;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (!s.videoStarted) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
      return;
    s.videoStarted = true;
  }
  const char *driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    s.videoStarted = false;
    return;
  }
  s.window = SDL_CreateWindow("ZANFEL", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWidth,
                              kHeight, SDL_WINDOW_SHOWN);
  if (!s.window)
    return;
  if (!SDL_GetWindowSurface(s.window)) {
    SDL_DestroyWindow(s.window);
    s.window = nullptr;
    return;
  }
  s.windowVisible = true;
  WatchDisplay(s.window, LoseWindow);
}

void CloseWindow() {
  QuietStandardError quiet;
  // A window on a display that went away is only forgotten.
  if (s.window && !s.lost)
    SDL_DestroyWindow(s.window);
  s.window = nullptr;
  s.windowVisible = false;
  if (s.videoStarted && !s.lost)
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  s.videoStarted = false;
}

void DrawLine(int x1, int y1, int x2, int y2) {
  lineRGBA(s.renderer, Sint16(x1), Sint16(y1), Sint16(x2), Sint16(y2), 255, 255, 255, 255);
  Changed(x1, y1, x2, y2);
}

// The canvas in its shown colours, as an indexed PNG; false with errno set
// on failure.
bool WriteCanvasTo(int fd, void *) {
  SDL_RenderFlush(s.renderer);
  std::uint32_t colours[16];
  for (int i = 0; i < 16; ++i)
    colours[i] = ShownColour(i);
  return WritePng(fd, {s.canvas->pixels, kWidth, kHeight, s.canvas->pitch, colours});
}

// Writes the picture whole into place (an earlier one stays when it cannot).
// False with errno set on failure, and `failed` naming the file it is about.
bool WritePicture(const std::string &path, std::string *failed = nullptr) {
  const bool ok = zanfel::WriteWholeFile(path, WriteCanvasTo, nullptr, failed);
  if (ok)
    pictureSaved = 1;
  return ok;
}

// Where the picture goes; set by the caller.
std::string picturePath = "ZANFEL.PNG";

void SnapshotHook() {
  SnapshotIfOpen();
}

} // namespace

void SetPicturePath(std::string path) {
  picturePath = std::move(path);
}

void InitGraph(INT16 &GraphDriver, INT16 &GraphMode, std::string_view) {
  Record("InitGraph");
  MaskedTraps masked;
  Poll();
  if (!CreateCanvas()) {
    s.result = grNoLoadMem;
    return;
  }
  GraphDriver = kVga;
  GraphMode = kVgaHi;
  s.result = grOk;
  s.savedAtEnd = false;
  s.background = 0;
  s.x = s.y = 0;
  SDL_RenderFlush(s.renderer);
  SDL_FillRect(s.canvas, nullptr, 0);
  s.open = true;
  zanfel::SetFatalEndHook(SnapshotHook);
  OpenWindow();
  zanfel::SetWindowKeySource(KeyPending);
  zanfel::SetWindowWaitSource(s.window ? EnterPressedOrClosed : nullptr);
  Changed(0, 0, kWidth - 1, kHeight - 1);
}

INT16 GraphResult() {
  INT16 r = s.result;
  s.result = grOk;
  return r;
}

void SetBkColor(WORD Color) {
  Record("SetBkColor " + Num(Color));
  MaskedTraps masked;
  Poll();
  if (!s.open)
    return;
  s.background = Color & 15;
  Changed(0, 0, kWidth - 1, kHeight - 1);
}

INT16 GetMaxX() {
  return kWidth - 1;
}
INT16 GetMaxY() {
  return kHeight - 1;
}

void SetLineStyle(WORD LineStyle, WORD Pattern, WORD Thickness) {
  Record("SetLineStyle " + Num(LineStyle) + " " + Num(Pattern) + " " + Num(Thickness));
  MaskedTraps masked;
  Poll();
}

void Line(INT16 x1, INT16 y1, INT16 x2, INT16 y2) {
  Record("Line " + Num(x1) + " " + Num(y1) + " " + Num(x2) + " " + Num(y2));
  MaskedTraps masked;
  Poll();
  if (s.open)
    DrawLine(x1, y1, x2, y2);
}

void OutTextXY(INT16 X, INT16 Y, std::string_view TextString) {
  Record("OutTextXY " + Num(X) + " " + Num(Y) + " " + std::string(TextString));
  MaskedTraps masked;
  Poll();
  if (!s.open)
    return;
  std::string text(TextString);
  stringRGBA(s.renderer, X, Y, text.c_str(), 255, 255, 255, 255);
  Changed(X, Y, X + 8 * int(text.size()) - 1, Y + 7);
}

void MoveTo(INT16 X, INT16 Y) {
  Record("MoveTo " + Num(X) + " " + Num(Y));
  MaskedTraps masked;
  Poll();
  s.x = X;
  s.y = Y;
}

void LineTo(INT16 X, INT16 Y) {
  Record("LineTo " + Num(X) + " " + Num(Y));
  MaskedTraps masked;
  Poll();
  if (s.open)
    DrawLine(s.x, s.y, X, Y);
  s.x = X;
  s.y = Y;
}

void CloseGraph() {
  Record("CloseGraph");
  MaskedTraps masked;
  if (!s.open)
    return;
  s.open = false;
  zanfel::SetWindowKeySource(nullptr);
  zanfel::SetWindowWaitSource(nullptr);
  std::string failed;
  bool written = s.savedAtEnd || WritePicture(picturePath, &failed);
  int error = errno;
  CloseWindow();
  if (!written)
    zanfel::IoError(error, failed);
}

void SavePictureAtEnd() {
  MaskedTraps masked;
  if (!s.open)
    return;
  std::string failed;
  if (!WritePicture(picturePath, &failed))
    zanfel::IoError(errno, failed);
  s.savedAtEnd = true;
}

bool KeyPending() {
  if (!s.window || s.lost)
    return s.closeRequested;
  MaskedTraps masked;
  PumpEvents();
  return s.closeRequested ||
         SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN) > 0;
}

bool EnterPressedOrClosed() {
  if (!s.window)
    return s.closeRequested;
  MaskedTraps masked;
  PumpEvents();
  if (s.closeRequested)
    return true;
  // Like a line read from a terminal, the keys typed before Return go with it.
  bool enter = false;
  SDL_Event events[16];
  int n;
  while (!enter && (n = SDL_PeepEvents(events, 16, SDL_GETEVENT, SDL_KEYDOWN, SDL_KEYDOWN)) > 0)
    for (int i = 0; i < n; ++i)
      enter = enter || IsEnterKey(events[i].key.keysym);
  return enter;
}

bool PictureSaved() {
  return pictureSaved != 0;
}

bool WindowShown() {
  return s.windowVisible;
}

bool WindowLost() {
  return s.lost;
}

void NoWindow() {
  windowWanted = false;
}

bool WindowWanted() {
  return windowWanted;
}

void SetWindowTitle(std::string_view title) {
  if (!s.window || s.lost)
    return;
  MaskedTraps masked;
  std::string text(title);
  SDL_SetWindowTitle(s.window, text.c_str());
  PumpEvents();
}

void SnapshotIfOpen() {
  if (!s.open)
    return;
  MaskedTraps masked;
  // On the way to a fatal end: a picture that cannot be written is let go.
  WritePicture(picturePath);
}

void RecordCallsTo(const std::string &path) {
  if (s.recordFd >= 0)
    close(s.recordFd);
  s.recordFd = -1;
  if (!path.empty())
    s.recordFd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int CanvasPixel(int x, int y) {
  if (!s.canvas || x < 0 || y < 0 || x >= kWidth || y >= kHeight)
    return -1;
  MaskedTraps masked;
  SDL_RenderFlush(s.renderer);
  return static_cast<const Uint8 *>(s.canvas->pixels)[y * s.canvas->pitch + x];
}

std::uint32_t CanvasColour(int x, int y) {
  int index = CanvasPixel(x, y);
  return index < 0 ? 0 : ShownColour(index);
}

} // namespace graph
