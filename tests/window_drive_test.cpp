// The window of a run under a virtual display, driven as a person would:
// which keys stop a sweep, Return and the close button answer the final wait,
// and the window keeps being repainted while it waits.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/terminal.hpp"
#include "support/test_support.hpp"
#include "support/x_client.hpp"

namespace zanfel {
namespace {

using testing::Exec;
using testing::FindProgram;
using testing::ProgramPath;
using testing::ReadFile;
using testing::RunOnTerminal;
using testing::TempDir;
using testing::TerminalRun;
using testing::VirtualDisplay;
using testing::VisibleLines;
using testing::XClient;
using Clock = std::chrono::steady_clock;

long RecordsInTitle(const std::string &title) {
  std::smatch m;
  static const std::regex records(R"(records (\d+))");
  return std::regex_search(title, m, records) ? std::stol(m[1]) : 0;
}

long RecordsInFile(const std::string &dir) {
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  long lines = 0;
  for (size_t p = res.find("\r\n"); p != std::string::npos; p = res.find("\r\n", p + 2))
    ++lines;
  return lines / 6;
}

std::string Ended(const std::string &dir, const std::string &why) {
  const long n = RecordsInFile(dir);
  return "shoot_b1: " + why + "; " + std::to_string(n) + (n == 1 ? " record in " : " records in ") +
         dir + "/ZANFEL.RES; pictures " + dir + "/ZANFEL.PNG and ZANFEL.SVG";
}

class WindowDrive : public ::testing::Test {
protected:
  void SetUp() override {
    if (FindProgram("Xvfb").empty())
      GTEST_SKIP() << "Xvfb is not installed";
    ASSERT_TRUE(display.Start()) << "Xvfb did not start";
    x = std::make_unique<XClient>(display.Name());
    ASSERT_TRUE(x->Connected());
    run.dir = dir.Path();
    run.set = {{"DISPLAY", display.Name()}};
  }
  TempDir dir;
  VirtualDisplay display;
  std::unique_ptr<XClient> x;
  TerminalRun run;
};

// Shift, Ctrl, Alt, Super and the lock keys leave the sweep running; a letter
// stops it; during the final wait a window dragged across is repainted, the
// terminal shows the prompt, and Return in the window ends the wait.
TEST_F(WindowDrive, ALoneModifierLeavesTheSweepRunningAndReturnAnswersTheWait) {
  int phase = 0;
  unsigned long window = 0;
  long recordsBefore = 0, recordsAfter = 0;
  Clock::time_point modifiersSent;
  std::string waitingTitle, prompt;
  std::vector<std::uint32_t> before, after;
  const auto r = RunOnTerminal(
      run, Exec({ProgramPath("shoot_b1")}), [&](pid_t, int, const std::string &screen) {
        if (phase == 0 && (window = x->FindWindow("shoot_b1")) != 0 &&
            (recordsBefore = RecordsInTitle(x->Title(window))) > 0) {
          for (const char *key : {"Shift_L", "Control_R", "Alt_L", "Super_L", "Caps_Lock",
                                  "Num_Lock", "ISO_Level3_Shift"})
            x->PressKey(window, key);
          modifiersSent = Clock::now();
          phase = 1;
        } else if (phase == 1 && Clock::now() - modifiersSent > std::chrono::seconds(1)) {
          const std::string title = x->Title(window);
          recordsAfter = RecordsInTitle(title);
          if (title.find("waiting") != std::string::npos)
            phase = 9; // stopped by a modifier
          else {
            x->PressKey(window, "a");
            phase = 2;
          }
        } else if (phase == 2 && x->Title(window).find("waiting") != std::string::npos &&
                   screen.find("Press Enter") != std::string::npos) { // the title comes first
          waitingTitle = x->Title(window);
          prompt = screen;
          before = x->Pixels(window);
          x->CoverAndUncover(window);
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          after = x->Pixels(window);
          x->PressKey(window, "Return");
          phase = 3;
        }
      });
  ASSERT_EQ(phase, 3) << "the sweep did not run on past the modifiers";
  EXPECT_GT(recordsAfter, recordsBefore);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(waitingTitle, Ended(run.dir, "stopped by a key") + " - waiting for Enter");
  EXPECT_NE(prompt.find("\rPress Enter to continue (or Return in the window)\033[K"),
            std::string::npos)
      << prompt;
  ASSERT_EQ(before.size(), 640u * 480u);
  EXPECT_TRUE(before == after) << "the window was not repainted";
  EXPECT_EQ(VisibleLines(r.screen), std::vector<std::string>{Ended(run.dir, "stopped by a key")})
      << r.screen;
  EXPECT_TRUE(r.canonical);
}

// A key on the terminal stops the sweep; the window's close button then ends
// the final wait.
TEST_F(WindowDrive, TheCloseButtonAnswersTheFinalWait) {
  bool keyTyped = false, closed = false;
  unsigned long window = 0;
  const auto r = RunOnTerminal(run, Exec({ProgramPath("shoot_b1")}),
                               [&](pid_t, int master, const std::string &) {
                                 if (!window)
                                   window = x->FindWindow("shoot_b1");
                                 if (!window)
                                   return;
                                 const std::string title = x->Title(window);
                                 if (!keyTyped && RecordsInTitle(title) > 0)
                                   keyTyped = write(master, "k", 1) == 1;
                                 if (!closed && title.find("waiting") != std::string::npos) {
                                   x->Close(window);
                                   closed = true;
                                 }
                               });
  ASSERT_TRUE(closed);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(VisibleLines(r.screen), std::vector<std::string>{Ended(run.dir, "stopped by a key")})
      << r.screen;
  EXPECT_EQ(ReadFile(run.dir + "/ZANFEL.PNG").substr(0, 4), "\x89PNG");
}

} // namespace
} // namespace zanfel
