// The console: the bytes of the messages, the key test, the wait for Enter and
// the terminal mode of a run, on pipes, files and a pseudo-terminal.
// The programs' headers come first: the terminal's headers define baud-rate
// macros (B0, B50, ...) that would stand for names of theirs.
#include "app/progress.hpp"
#include "app/summary.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "support/terminal.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::RunInChild;
using testing::Stdin;

using testing::kInvalidCall;
using testing::kInvalidCall866;
using testing::kTooManySteps;
using testing::kTooManySteps866;
using testing::kTooPrecise;
using testing::kTooPrecise866;

class ConsoleTest : public ::testing::Test {
protected:
  ChildResult Run(Stdin in, const std::function<int()> &body) { return RunInChild(dir, in, body); }
  const testing::TempDir scratch;
  const std::string dir = scratch.Path();
};

// Makes a pipe holding `bytes` (writer closed when `close` is set) standard
// input.
void StdinFromPipe(const std::string &bytes, bool closeWriter) {
  int p[2];
  if (pipe(p) != 0 || write(p[1], bytes.data(), bytes.size()) != ssize_t(bytes.size()))
    _exit(98);
  dup2(p[0], 0);
  close(p[0]);
  if (closeWriter)
    close(p[1]);
}

std::string ReadRest(int fd) {
  std::string s;
  char buf[256];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0)
    s.append(buf, size_t(n));
  return s;
}

TEST_F(ConsoleTest, MessagesAreCodePage866InFiles) {
  ChildResult r = Run(Stdin::DevNull, [] {
    WriteMessageLine(kTooManySteps);
    WriteMessage(kTooPrecise);
    WriteMessage("\r\nRelErr=");
    WriteMessageLine(" 1.0000000000000000E-0009");
    WriteMessageLine(kInvalidCall);
    WriteMessageLine("ntial malo");
    WriteMessageLine("pause in LUDCMP - singular matrix");
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kTooManySteps866 + "\n" + kTooPrecise866 +
                       "\r\nRelErr= 1.0000000000000000E-0009\n" + kInvalidCall866 +
                       "\nntial malo\npause in LUDCMP - singular matrix\n");
}

TEST_F(ConsoleTest, MessagesAreCodePage866InPipes) {
  // Even when the user's locale is UTF-8: a pipe gets the system's bytes.
  ChildResult r = Run(Stdin::DevNull, [] {
    setenv("LC_ALL", "C.UTF-8", 1);
    int p[2];
    if (pipe(p) != 0)
      return 98;
    int out = dup(1);
    dup2(p[1], 1);
    close(p[1]);
    WriteMessageLine(kTooManySteps);
    WriteMessageLine(kInvalidCall);
    WriteMessageLine("Ёё€"); // a character outside the code page becomes '?'
    dup2(out, 1);
    std::string bytes = ReadRest(p[0]);
    return write(1, bytes.data(), bytes.size()) == ssize_t(bytes.size()) ? 0 : 97;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kTooManySteps866 + "\n" + kInvalidCall866 + "\n\xF0\xF1?\n");
}

void BeforeMessage() {
  if (write(1, "[erase]", 7) != 7)
    _exit(99);
}

TEST_F(ConsoleTest, BeforeMessageHookRunsFirst) {
  ChildResult r = Run(Stdin::DevNull, [] {
    SetBeforeMessageHook(BeforeMessage);
    WriteMessageLine("ntial malo");
    return 0;
  });
  EXPECT_EQ(r.out, "[erase]ntial malo\n");
}

bool WindowKeyDown() {
  return true;
}

TEST_F(ConsoleTest, KeyPressedOnlyForAWaitingByte) {
  auto keyStatus = [] { return KeyPressed() ? 1 : 0; };
  EXPECT_EQ(Run(Stdin::EndOfFile, keyStatus).status, 0);
  EXPECT_EQ(Run(Stdin::DevNull, keyStatus).status, 0);
  EXPECT_EQ(Run(Stdin::Closed, keyStatus).status, 0);
  // The waiting byte is seen, twice, and is still there afterwards.
  ChildResult pending = Run(Stdin::PendingByte, [] {
    if (!KeyPressed() || !KeyPressed())
      return 1;
    char c = 0;
    return read(0, &c, 1) == 1 && c == 'k' ? 0 : 2;
  });
  EXPECT_EQ(pending.status, 0);
  // A byte before the end of a closed pipe counts; the end after it does not.
  EXPECT_EQ(Run(Stdin::DevNull,
                [] {
                  StdinFromPipe("x", true);
                  bool before = KeyPressed();
                  char c;
                  if (read(0, &c, 1) != 1)
                    return 3;
                  return before && !KeyPressed() ? 0 : 1;
                })
                .status,
            0);
  // A regular file: its unread bytes wait like typed keys.
  testing::WriteFile(dir + "/keys", "q");
  EXPECT_EQ(Run(Stdin::DevNull,
                [] {
                  int fd = open("keys", O_RDONLY);
                  dup2(fd, 0);
                  close(fd);
                  bool before = KeyPressed();
                  char c;
                  if (read(0, &c, 1) != 1)
                    return 3;
                  return before && !KeyPressed() ? 0 : 1;
                })
                .status,
            0);
  // A key in the window counts whatever standard input holds.
  EXPECT_EQ(Run(Stdin::Closed,
                [] {
                  SetWindowKeySource(WindowKeyDown);
                  return KeyPressed() ? 0 : 1;
                })
                .status,
            0);
}

TEST_F(ConsoleTest, WaitForEnterConsumesExactlyOneLine) {
  ChildResult r = Run(Stdin::DevNull, [] {
    StdinFromPipe("first line\nsecond\nthird", true);
    WaitForEnter();
    std::string rest = ReadRest(0);
    return write(1, rest.data(), rest.size()) == ssize_t(rest.size()) ? 0 : 97;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "second\nthird");
}

TEST_F(ConsoleTest, EndOfFileOrClosedInputCountsAsEnter) {
  auto waitTwice = [] {
    WaitForEnter();
    WaitForEnter();
    return 0;
  };
  EXPECT_EQ(Run(Stdin::EndOfFile, waitTwice).status, 0);
  EXPECT_EQ(Run(Stdin::Closed, waitTwice).status, 0);
  EXPECT_EQ(Run(Stdin::DevNull, waitTwice).status, 0);
  // A last line without its line end.
  EXPECT_EQ(Run(Stdin::DevNull,
                [] {
                  StdinFromPipe("no end", true);
                  WaitForEnter();
                  WaitForEnter();
                  return 0;
                })
                .status,
            0);
}

TEST_F(ConsoleTest, RunModeIsInertWithoutTerminal) {
  ChildResult r = Run(Stdin::PendingByte, [] {
    EnterRunMode();
    RestoreTerminal();
    return KeyPressed() ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0);
}

// A pseudo-terminal whose slave side becomes the child's standard input (and,
// where asked, output).
class TerminalTest : public ConsoleTest {
protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    t.c_lflag |= ICANON | ECHO;
    t.c_oflag &= ~tcflag_t(OPOST); // output bytes pass unchanged
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &t), 0);
  }
  void TearDown() override {
    close(master);
    close(slave);
    ConsoleTest::TearDown();
  }
  tcflag_t SlaveFlags() const {
    termios t{};
    tcgetattr(slave, &t);
    return t.c_lflag & (ICANON | ECHO);
  }
  // What the terminal shows so far.
  std::string Screen() const {
    std::string s;
    pollfd p{master, POLLIN, 0};
    char buf[256];
    while (poll(&p, 1, 100) > 0 && (p.revents & POLLIN)) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0)
        break;
      s.append(buf, size_t(n));
    }
    return s;
  }
  int master = -1;
  int slave = -1;
};

// Standard input on the terminal, run mode on; 1 if the mode did not change.
int EnterRunModeOn(int slave) {
  dup2(slave, 0);
  InstallFaultHandling();
  EnterRunMode();
  termios t{};
  tcgetattr(0, &t);
  return (t.c_lflag & (ICANON | ECHO)) == 0 && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0 ? 0 : 1;
}

TEST_F(TerminalTest, TrapRestoresTheTerminal) {
  int s = slave;
  ChildResult r = Run(Stdin::DevNull, [s] {
    if (EnterRunModeOn(s) != 0)
      return 1;
    volatile long double zero = 0.0L;
    volatile long double q = 1.0L / zero;
    (void)q;
    return 0;
  });
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.out, "Runtime error 200\n");
  EXPECT_EQ(SlaveFlags(), ICANON | ECHO);
}

TEST_F(TerminalTest, FatalEndsAndSignalsRestoreTheTerminal) {
  int s = slave;
  EXPECT_EQ(Run(Stdin::DevNull,
                [s] {
                  if (EnterRunModeOn(s) != 0)
                    return 1;
                  RangeFault();
                })
                .status,
            201);
  EXPECT_EQ(SlaveFlags(), ICANON | ECHO);
  EXPECT_EQ(Run(Stdin::DevNull,
                [s] {
                  if (EnterRunModeOn(s) != 0)
                    return 1;
                  FatalEnd(0);
                })
                .status,
            0);
  EXPECT_EQ(SlaveFlags(), ICANON | ECHO);
  EXPECT_EQ(Run(Stdin::DevNull,
                [s] {
                  if (EnterRunModeOn(s) != 0)
                    return 1;
                  raise(SIGINT);
                  return 2;
                })
                .status,
            128 + SIGINT);
  EXPECT_EQ(SlaveFlags(), ICANON | ECHO);
}

TEST_F(TerminalTest, WaitForEnterRunsInNormalModeAndReturnsToRunMode) {
  int sync[2];
  ASSERT_EQ(pipe(sync), 0);
  std::atomic<bool> sawNormalMode{false};
  // The user: waits until the program waits for Enter, checks the terminal
  // is back in its normal mode, and types a line.
  std::thread user([&] {
    char c;
    if (read(sync[0], &c, 1) != 1)
      return;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
      if (SlaveFlags() == (ICANON | ECHO)) {
        sawNormalMode = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (write(master, "ok\n", 3) != 3)
      return;
  });
  int s = slave;
  int ready = sync[1];
  ChildResult r = Run(Stdin::DevNull, [s, ready] {
    if (EnterRunModeOn(s) != 0)
      return 1;
    if (write(ready, "w", 1) != 1)
      return 98;
    WaitForEnter();
    termios t{};
    tcgetattr(0, &t);
    bool runModeAgain = (t.c_lflag & (ICANON | ECHO)) == 0;
    RestoreTerminal();
    return runModeAgain ? 0 : 2;
  });
  user.join();
  close(sync[0]);
  close(sync[1]);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(sawNormalMode);
  EXPECT_EQ(SlaveFlags(), ICANON | ECHO);
}

TEST_F(TerminalTest, KeyPressedSeesASingleKeyInRunMode) {
  int s = slave;
  ASSERT_EQ(write(master, "q", 1), 1); // typed ahead, before the run mode
  ChildResult r = Run(Stdin::DevNull, [s] {
    if (EnterRunModeOn(s) != 0)
      return 1;
    // The line discipline hands the byte over asynchronously.
    bool key = false;
    for (int i = 0; i < 500 && !(key = KeyPressed()); ++i)
      usleep(2000);
    RestoreTerminal();
    return key ? 0 : 2;
  });
  EXPECT_EQ(r.status, 0);
}

bool HaveUtf8Locale() {
  locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr))
    return false;
  freelocale(loc);
  return true;
}

TEST_F(TerminalTest, MessagesFollowTheTerminalsCharset) {
  if (!HaveUtf8Locale())
    GTEST_SKIP() << "no C.UTF-8 locale";
  int s = slave;
  ChildResult r = Run(Stdin::DevNull, [s] {
    setenv("LC_ALL", "C.UTF-8", 1);
    dup2(s, 1);
    WriteMessageLine(kTooManySteps);
    WriteMessageLine(kInvalidCall);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Screen(), kTooManySteps + "\n" + kInvalidCall + "\n");

  // A terminal whose locale names another character set gets that one;
  // KOI8-R is named by a locale that need not be installed, and the Latin
  // look-alikes stay as they are.
  const struct {
    const char *locale;
    std::string shown;
  } charsets[] = {
      {"ru_RU.CP866", kTooManySteps866 + "\n"},
      {"ru_RU.KOI8-R", "C\xCC\xC9\xDB\xCBo\xCD \xCD\xCE\xCF\xC7\xCF \xDB\xC1\xC7\xCF\xD7\n"},
  };
  for (const auto &c : charsets) {
    SCOPED_TRACE(c.locale);
    r = Run(Stdin::DevNull, [s, &c] {
      setenv("LC_ALL", c.locale, 1);
      dup2(s, 1);
      WriteMessageLine(kTooManySteps);
      return 0;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Screen(), c.shown);
  }
}

// A flood of one message on a terminal is one line with its count and the
// record it belongs to; another message, or the same one for the next
// record, starts a line of its own. Files keep every line (the reference
// runs).
TEST_F(TerminalTest, RepeatedMessagesShowOnceWithTheirCount) {
  if (!HaveUtf8Locale())
    GTEST_SKIP() << "no C.UTF-8 locale";
  int s = slave;
  ChildResult r = Run(Stdin::DevNull, [s] {
    setenv("LC_ALL", "C.UTF-8", 1);
    dup2(s, 1);
    static int record = 270;
    SetRepeatNote([] { return "record " + std::to_string(record); });
    for (int i = 0; i < 12; ++i)
      WriteMessageLine(kTooManySteps);
    // A worker thread's messages, written together later.
    WriteMessage(std::string(kTooManySteps) + "\n" + kTooManySteps + "\n");
    WriteMessageLine(kInvalidCall);
    WriteMessageLine(kInvalidCall);
    ++record;
    WriteMessageLine(kInvalidCall);
    return MessageCount() == 16 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0) << "every message counted";
  EXPECT_EQ(testing::VisibleLines(Screen()),
            (std::vector<std::string>{std::string(kTooManySteps) + " \u00D714 (record 270)",
                                      std::string(kInvalidCall) + " \u00D72 (record 270)",
                                      std::string(kInvalidCall) + " (record 271)"}));
  // A dumb terminal cannot go back up to count: every line, each with its note.
  r = Run(Stdin::DevNull, [s] {
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("TERM", "dumb", 1);
    dup2(s, 1);
    SetRepeatNote([] { return std::string("record 9"); });
    WriteMessageLine(kTooManySteps);
    WriteMessageLine(kTooManySteps);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  const std::string screen = Screen(), line = std::string(kTooManySteps) + " (record 9)\n";
  EXPECT_EQ(screen, line + line);
}

// The programs' own note: the record being solved for and its P.
TEST_F(TerminalTest, RepeatedMessagesNameTheRecordAndTheP) {
  if (!HaveUtf8Locale())
    GTEST_SKIP() << "no C.UTF-8 locale";
  int s = slave;
  const ChildResult r = Run(Stdin::DevNull, [s] {
    setenv("LC_ALL", "C.UTF-8", 1);
    dup2(s, 1);
    progress::Start("probe");
    progress::AfterRecord(3.79364898L, 269, 6, 0.0L, false);
    summary::NoteP(3.80364898L);
    for (int i = 0; i < 3; ++i)
      WriteMessageLine(kTooManySteps);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testing::VisibleLines(Screen()),
            std::vector<std::string>{std::string(kTooManySteps) +
                                     " \u00D73 (record 270, P = 3.80364898)"});
}

} // namespace
} // namespace zanfel
