// The graphics library: canvas semantics, the call log, the snapshot, and a
// real window under a virtual X server.
#include "graph/graph.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace {

using namespace zanfel::testing;

constexpr std::uint32_t kBlue = 0x0000AA;
constexpr std::uint32_t kWhite = 0xFFFFFF;

void Init() {
  NoDisplay();
  graph::INT16 driver = graph::Detect, mode = 0;
  graph::InitGraph(driver, mode, "");
  ASSERT_EQ(graph::GraphResult(), graph::grOk);
}

int CountIndex(int index) {
  int n = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      n += graph::CanvasPixel(x, y) == index;
  return n;
}

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t At(int x, int y) const {
    const std::uint8_t *p = &rgb[3 * (size_t(y) * width + x)];
    return std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
  }
};

bool ReadPng(const std::string &path, Picture &picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return false;
  image.format = PNG_FORMAT_RGB;
  picture.width = int(image.width);
  picture.height = int(image.height);
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

// A screen dump in the X window dump format: a header of big-endian 32-bit
// fields, a colour table, then rows of pixels.
bool ReadXwd(const std::string &bytes, Picture &picture) {
  auto field = [&](int i) {
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data()) + 4 * i;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
  };
  if (bytes.size() < 100)
    return false;
  const std::uint32_t headerSize = field(0), width = field(4), height = field(5);
  const std::uint32_t byteOrder = field(7), bitsPerPixel = field(11), bytesPerLine = field(12);
  const std::uint32_t masks[3] = {field(14), field(15), field(16)};
  const std::uint32_t colours = field(19);
  const size_t start = headerSize + 12 * size_t(colours);
  const unsigned bytesPerPixel = bitsPerPixel / 8;
  if (bytesPerPixel < 3 || bytesPerPixel > 4 ||
      bytes.size() < start + size_t(bytesPerLine) * height)
    return false;
  picture.width = int(width);
  picture.height = int(height);
  picture.rgb.assign(size_t(width) * height * 3, 0);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data()) + start +
                      y * bytesPerLine + x * bytesPerPixel;
      std::uint32_t v = 0;
      for (unsigned k = 0; k < bytesPerPixel; ++k)
        v |= std::uint32_t(p[k]) << (byteOrder == 0 ? 8 * k : 8 * (bytesPerPixel - 1 - k));
      for (int c = 0; c < 3; ++c) {
        std::uint32_t m = masks[c], part = v & m;
        while (m && !(m & 1)) {
          m >>= 1;
          part >>= 1;
        }
        picture.rgb[3 * (size_t(y) * width + x) + c] = std::uint8_t(part);
      }
    }
  return true;
}

TEST(Graph, InitialisationGivesTheStandardCanvas) {
  NoDisplay();
  graph::INT16 driver = graph::Detect, mode = 0;
  graph::InitGraph(driver, mode, "");
  EXPECT_EQ(graph::GraphResult(), graph::grOk);
  EXPECT_NE(driver, graph::Detect);
  EXPECT_EQ(graph::GetMaxX(), 639);
  EXPECT_EQ(graph::GetMaxY(), 479);
  EXPECT_EQ(CountIndex(0), 640 * 480);
  EXPECT_EQ(graph::CanvasColour(0, 0), 0x000000u);
  EXPECT_FALSE(graph::WindowShown());
  EXPECT_FALSE(graph::KeyPending());
  EXPECT_EQ(graph::CanvasPixel(640, 0), -1);
  EXPECT_EQ(graph::CanvasPixel(0, -1), -1);

  // The background is a palette change: the pixels keep index 0.
  graph::SetBkColor(1);
  EXPECT_EQ(CountIndex(0), 640 * 480);
  EXPECT_EQ(graph::CanvasColour(320, 240), kBlue);
  // Even a white background leaves the drawing colour distinct.
  graph::SetBkColor(15);
  graph::Line(0, 0, 9, 0);
  EXPECT_EQ(graph::CanvasPixel(5, 0), 15);
  EXPECT_EQ(graph::CanvasPixel(5, 1), 0);
}

TEST(Graph, LinesIncludeBothEndsAndAreClipped) {
  Init();
  graph::Line(10, 10, 20, 15);
  EXPECT_EQ(graph::CanvasPixel(10, 10), 15);
  EXPECT_EQ(graph::CanvasPixel(20, 15), 15);
  EXPECT_EQ(CountIndex(15), 11); // one pixel per column of an x-major line

  Init();
  graph::Line(300, 5, 300, 5);
  EXPECT_EQ(CountIndex(15), 1);

  // Far outside on both sides: only the visible part, nothing wraps.
  Init();
  graph::Line(-32768, 240, 32767, 240);
  graph::Line(376, -509, 376, 2601);
  EXPECT_EQ(CountIndex(15), 640 + 480 - 1);
  for (int x = 0; x < 640; ++x)
    ASSERT_EQ(graph::CanvasPixel(x, 240), 15) << x;
  for (int y = 0; y < 480; ++y)
    ASSERT_EQ(graph::CanvasPixel(376, y), 15) << y;

  Init();
  graph::Line(-100, -50, -1, 900);
  graph::Line(640, 0, 32767, 32767);
  EXPECT_EQ(CountIndex(15), 0);

  // A diagonal entering from outside reaches the corner it points at.
  Init();
  graph::Line(-100, -100, 639, 639);
  EXPECT_EQ(graph::CanvasPixel(0, 0), 15);
  EXPECT_EQ(graph::CanvasPixel(479, 479), 15);
  EXPECT_EQ(CountIndex(15), 480);
}

TEST(Graph, MoveToAndLineToDrawAConnectedPolyline) {
  Init();
  graph::MoveTo(100, 100);
  EXPECT_EQ(CountIndex(15), 0);
  graph::LineTo(200, 100);
  graph::Line(0, 300, 5, 300); // does not move the current position
  graph::LineTo(200, 150);
  graph::LineTo(150, 175);
  for (int x = 100; x <= 200; ++x)
    ASSERT_EQ(graph::CanvasPixel(x, 100), 15) << x;
  for (int y = 100; y <= 150; ++y)
    ASSERT_EQ(graph::CanvasPixel(200, y), 15) << y;
  EXPECT_EQ(graph::CanvasPixel(150, 175), 15);
  // The slanted segment has no gaps: one pixel in every column.
  for (int x = 150; x <= 200; ++x) {
    int hits = 0;
    for (int y = 150; y <= 175; ++y)
      hits += graph::CanvasPixel(x, y) == 15;
    ASSERT_GE(hits, 1) << x;
  }
  EXPECT_EQ(CountIndex(15), 101 + 50 + 50 + 6); // shared corners count once
}

TEST(Graph, RepeatedInitialisationStartsACleanCanvas) {
  Init();
  graph::SetBkColor(1);
  graph::Line(0, 0, 639, 479);
  graph::OutTextXY(50, 50, "4.0");
  graph::MoveTo(10, 10);
  Init();
  EXPECT_EQ(CountIndex(0), 640 * 480);
  EXPECT_EQ(graph::CanvasColour(0, 0), 0x000000u);
  graph::LineTo(3, 0); // the current position starts at the origin again
  EXPECT_EQ(CountIndex(15), 4);
}

TEST(Graph, TextIsEightByEightAtItsTopLeftOnATransparentGround) {
  Init();
  graph::Line(0, 107, 639, 107);
  graph::OutTextXY(100, 100, "-4.0");
  int inside = 0, outside = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      if (y == 107 || graph::CanvasPixel(x, y) != 15)
        continue;
      (x >= 100 && x < 132 && y >= 100 && y < 108 ? inside : outside) += 1;
    }
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
  // Every glyph leaves ink in its own cell.
  for (int cell = 0; cell < 4; ++cell) {
    int ink = 0;
    for (int y = 100; y < 108; ++y)
      for (int x = 100 + 8 * cell; x < 108 + 8 * cell; ++x)
        ink += y != 107 && graph::CanvasPixel(x, y) == 15;
    EXPECT_GT(ink, 0) << cell;
  }
  // The text's background does not erase what lies under it.
  for (int x = 0; x < 640; ++x)
    ASSERT_EQ(graph::CanvasPixel(x, 107), 15) << x;
}

TEST(Graph, RecordsEveryOperationInThePlotLogFormat) {
  const TempDir dir;
  const std::string log = dir.File("plot.log");
  graph::RecordCallsTo(log);
  Init();
  graph::SetBkColor(1);
  EXPECT_EQ(graph::GetMaxX(), 639);
  graph::SetLineStyle(0, 0, 1);
  graph::Line(60, 30, 579, 30);
  graph::OutTextXY(15, 449, "-4.0");
  graph::MoveTo(73, 282);
  graph::LineTo(376, -509);
  // Lines reach the file as they happen.
  EXPECT_EQ(ReadFile(log), "InitGraph\nSetBkColor 1\nSetLineStyle 0 0 1\nLine 60 30 579 30\n"
                           "OutTextXY 15 449 -4.0\nMoveTo 73 282\nLineTo 376 -509\n");
  graph::RecordCallsTo("");
  graph::Line(0, 0, 1, 1);
  EXPECT_EQ(ReadFile(log).find("Line 0 0 1 1"), std::string::npos);
}

TEST(Graph, CloseGraphWritesThePicture) {
  const TempDir scratch;
  const std::string &dir = scratch.Path();
  ChildResult r = RunInChild(dir, Stdin::DevNull, [] {
    NoDisplay();
    graph::RecordCallsTo("plot.log");
    graph::INT16 driver = graph::Detect, mode = 0;
    graph::InitGraph(driver, mode, "");
    graph::SetBkColor(1);
    graph::Line(10, 20, 600, 20);
    graph::CloseGraph();
    graph::CloseGraph(); // a second close has nothing left to do
    return 0;
  });
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(dir + "/plot.log"),
            "InitGraph\nSetBkColor 1\nLine 10 20 600 20\nCloseGraph\nCloseGraph\n");
  Picture p;
  ASSERT_TRUE(ReadPng(dir + "/ZANFEL.PNG", p));
  ASSERT_EQ(p.width, 640);
  ASSERT_EQ(p.height, 480);
  EXPECT_EQ(p.At(0, 0), kBlue);
  EXPECT_EQ(p.At(10, 20), kWhite);
  EXPECT_EQ(p.At(600, 20), kWhite);
  EXPECT_EQ(p.At(601, 20), kBlue);
}

TEST(Graph, AFatalEndLeavesThePictureAndAFailedWriteIsAnIoError) {
  const TempDir scratch;
  const std::string &dir = scratch.Path();
  ChildResult r = RunInChild(dir, Stdin::DevNull, []() -> int {
    NoDisplay();
    graph::INT16 driver = graph::Detect, mode = 0;
    graph::InitGraph(driver, mode, "");
    graph::Line(0, 0, 639, 0);
    zanfel::FatalEnd(0);
  });
  EXPECT_EQ(r.status, 0);
  Picture p;
  ASSERT_TRUE(ReadPng(dir + "/ZANFEL.PNG", p));
  EXPECT_EQ(p.At(639, 0), kWhite);
  EXPECT_EQ(p.At(639, 1), 0x000000u);

  // A directory in the picture's place, or in its partial file's: the
  // report names the one in the way.
  for (const char *name : {"ZANFEL.PNG", "ZANFEL.PNG.part"}) {
    const TempDir blocked;
    ASSERT_EQ(mkdir(blocked.File(name).c_str(), 0755), 0);
    r = RunInChild(blocked.Path(), Stdin::DevNull, [] {
      NoDisplay();
      graph::INT16 driver = graph::Detect, mode = 0;
      graph::InitGraph(driver, mode, "");
      graph::CloseGraph();
      return 0;
    });
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "Runtime error 5: " + std::string(name) + ": Is a directory\n");
  }
}

// --- The real window ---

std::string DemoPath() {
  return BuiltPath("tests/tools/frame_demo");
}

bool Executable(const std::string &path) {
  return access(path.c_str(), X_OK) == 0;
}

// Runs the demo in `dir` with standard input and output on pipes: once it has
// said what it drew (its first line, in the result's `out`), `whenDrawn` runs
// and the demo is told to close.
ChildResult RunDemo(const std::string &dir, const std::string &display,
                    const std::function<void()> &whenDrawn) {
  ChildSetup setup;
  setup.dir = dir;
  setup.in = Stdin::Open;
  setup.out = Sink::Pipe;
  setup.display = display;
  setup.timeoutSeconds = 60;
  const std::string program = DemoPath();
  return RunChild(
      setup,
      [&] {
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        return 127;
      },
      [&](pid_t, int &in, const ChildResult &soFar) {
        if (in < 0 || soFar.out.find('\n') == std::string::npos)
          return;
        whenDrawn();
        if (write(in, "\n", 1) != 1) {
        }
        close(in);
        in = -1;
      });
}

// The frame of shoot_a1 as the demo draws it, relative to the canvas origin.
void ExpectFrame(const Picture &p, int left, int top) {
  for (int column : {60, 190, 320, 449, 579})
    EXPECT_EQ(p.At(left + column, top + 200), kWhite) << column;
  for (int row : {30, 82, 135, 187, 240, 292, 344, 397, 449})
    EXPECT_EQ(p.At(left + 300, top + row), kWhite) << row;
  EXPECT_EQ(p.At(left + 100, top + 320), kBlue);
  EXPECT_EQ(p.At(left + 5, top + 5), kBlue);
  EXPECT_EQ(p.At(left + 630, top + 470), kBlue);
}

TEST(GraphWindow, ShowsTheFrameUnderAVirtualDisplay) {
  if (FindProgram("Xvfb").empty())
    GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(Executable(DemoPath())) << DemoPath();
  const std::string xwd = FindProgram("xwd");
  ASSERT_FALSE(xwd.empty()) << "xwd (x11-apps) is missing";
  VirtualDisplay display;
  ASSERT_TRUE(display.Start()) << "Xvfb did not start";

  const TempDir scratch;
  const std::string &dir = scratch.Path();
  // The demo enables the floating-point traps before the window opens.
  int shot = -1;
  const ChildResult r = RunDemo(dir, display.Name(), [&] {
    const std::string command =
        xwd + " -root -silent -display " + display.Name() + " > " + dir + "/shot.xwd";
    shot = std::system(command.c_str());
  });
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.out, "window\n");
  ASSERT_EQ(shot, 0);

  Picture screen;
  ASSERT_TRUE(ReadXwd(ReadFile(dir + "/shot.xwd"), screen));
  ASSERT_EQ(screen.width, 800);
  ASSERT_EQ(screen.height, 600);
  // Find the window by its blue background: the bounding box of blue.
  int left = screen.width, top = screen.height, right = -1, bottom = -1, blue = 0;
  for (int y = 0; y < screen.height; ++y)
    for (int x = 0; x < screen.width; ++x)
      if (screen.At(x, y) == kBlue) {
        ++blue;
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
      }
  ASSERT_GT(blue, 250000);
  EXPECT_EQ(right - left + 1, 640);
  EXPECT_EQ(bottom - top + 1, 480);
  ExpectFrame(screen, left, top);

  Picture png;
  ASSERT_TRUE(ReadPng(dir + "/ZANFEL.PNG", png));
  ExpectFrame(png, 0, 0);
}

TEST(GraphWindow, WithoutADisplayTheDemoDrawsOffScreen) {
  ASSERT_TRUE(Executable(DemoPath())) << DemoPath();
  const TempDir scratch;
  const std::string &dir = scratch.Path();
  const ChildResult r = RunDemo(dir, "", [] {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "off-screen\n");
  Picture png;
  ASSERT_TRUE(ReadPng(dir + "/ZANFEL.PNG", png));
  ASSERT_EQ(png.width, 640);
  ASSERT_EQ(png.height, 480);
  ExpectFrame(png, 0, 0);
}

} // namespace
