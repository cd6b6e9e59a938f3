// The console: messages in the system's character set, the wait for Enter,
// the key test and the terminal mode of a run.
//
// Standard input and output are used through their descriptors only. Input
// buffered by stdio would be invisible to the key test, and a message must
// reach the screen before a fault ends the program.
#include "runtime/console.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/charset.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/line_over.hpp"
#include "runtime/signals.hpp"

namespace zanfel {

namespace {

KeySource windowKeys = nullptr;
BeforeMessageHook beforeMessage = nullptr;

// The terminal mode of standard input before the run, the run mode, and
// whether the run mode is in force or is to come back after a stop. Read
// inside signal handlers.
struct termios savedMode;
struct termios runMode;
volatile sig_atomic_t haveSavedMode = 0;
volatile sig_atomic_t inRunMode = 0;
volatile sig_atomic_t resumeRunMode = 0;
bool restoreAtExit = false;

void WriteAll(const char *s, size_t n) {
  zanfel::WriteAll(1, s, n);
}

// Code page 866 of one character, for when the converter is not available:
// ASCII, the basic Cyrillic letters and Ё/ё cover every message.
int Cp866Byte(char32_t c) {
  if (c < 0x80)
    return static_cast<int>(c);
  if (c >= 0x410 && c <= 0x43F)
    return static_cast<int>(0x80 + (c - 0x410));
  if (c >= 0x440 && c <= 0x44F)
    return static_cast<int>(0xE0 + (c - 0x440));
  if (c == 0x401)
    return 0xF0;
  if (c == 0x451)
    return 0xF1;
  return '?';
}

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed bytes decode as
// U+FFFD one at a time.
char32_t DecodeUtf8(std::string_view s, size_t &i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < len; ++k) {
    unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (t & 0x3F);
  }
  i += len;
  return c;
}

std::string ToCp866ByTable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();)
    out += static_cast<char>(Cp866Byte(DecodeUtf8(utf8, i)));
  return out;
}

// An open converter from UTF-8 to `charset`, kept for the run; null when the
// system has none.
iconv_t Converter(const std::string &charset) {
  static std::string name;
  static iconv_t cd = reinterpret_cast<iconv_t>(-1);
  if (name != charset || cd == reinterpret_cast<iconv_t>(-1)) {
    if (cd != reinterpret_cast<iconv_t>(-1))
      iconv_close(cd);
    name = charset;
    cd = iconv_open(charset.c_str(), "UTF-8");
  }
  return cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

// The text in `charset`; a character without a code there becomes '?'. Code
// page 866 by the table when the system cannot convert.
std::string FromUtf8(std::string_view utf8, const std::string &charset) {
  iconv_t cd = Converter(charset);
  if (!cd)
    return ToCp866ByTable(utf8);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // Room for the widest of the multi-byte character sets.
  std::string out(4 * utf8.size() + 16, '\0');
  char *in = const_cast<char *>(utf8.data());
  size_t inLeft = utf8.size();
  char *o = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1))
      break;
    if (errno != EILSEQ && errno != EINVAL)
      return ToCp866ByTable(utf8);
    size_t at = static_cast<size_t>(in - utf8.data());
    size_t next = at;
    DecodeUtf8(utf8, next);
    *o++ = '?';
    --outLeft;
    in += next - at;
    inLeft -= next - at;
  }
  iconv(cd, nullptr, nullptr, &o, &outLeft); // the end of a stateful encoding
  out.resize(out.size() - outLeft);
  return out;
}

void RestoreTerminalAtExit() {
  RestoreTerminal();
}

} // namespace

namespace {
// Messages of a trajectory run on a worker thread are held back and written
// later, in the order the trajectories would have run one at a time.
thread_local std::string *captured = nullptr;
} // namespace

void CaptureMessages(std::string *buffer) {
  captured = buffer;
}

namespace {
// Written and captured messages are counted apart: a captured message is
// counted again, once, when the thread that writes the record writes it.
thread_local unsigned long messageCount = 0;
thread_local unsigned long capturedCount = 0;

RepeatNote repeatNote = nullptr;
// The last message line shown on the terminal, the note it was shown with
// and how often it came since.
std::string lastLine;
std::string lastNote;
unsigned long shownCount = 0;

std::string Note() {
  return repeatNote ? repeatNote() : std::string();
}

// Every line says where it belongs (the record and its P), and a flood of
// identical lines (a solve whose every trajectory hits the integrator's step
// limit) becomes one line with its count. A dumb terminal cannot go back up:
// it gets every line.
std::string CollapseRepeats(std::string_view utf8) {
  const bool dumb = DumbTerminal();
  std::string out;
  for (size_t start = 0; start < utf8.size();) {
    const size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) { // a line to be continued: no count on it
      out.append(utf8.substr(start));
      lastLine.clear();
      break;
    }
    const std::string_view line = utf8.substr(start, end - start);
    const std::string note = Note();
    const std::string noted = note.empty() ? "" : " (" + note + ")";
    if (!dumb && !lastLine.empty() && line == lastLine && note == lastNote) {
      out += "\033[A\r" + lastLine + " \u00D7" + std::to_string(++shownCount);
      out += noted + "\033[K\r\n";
    } else {
      out.append(line);
      out += noted + '\n';
      lastLine = line;
      lastNote = note;
      shownCount = 1;
    }
    start = end + 1;
  }
  return out;
}

void WriteNow(std::string_view utf8) {
  if (beforeMessage)
    beforeMessage();
  std::fflush(stdout);
  const bool terminal = isatty(1) == 1;
  const std::string collapsed = terminal ? CollapseRepeats(utf8) : std::string();
  if (terminal)
    utf8 = collapsed;
  const std::string charset = terminal ? TerminalCharset() : "CP866";
  if (IsUtf8(charset)) {
    WriteAll(utf8.data(), utf8.size());
  } else {
    std::string bytes = FromUtf8(utf8, charset);
    WriteAll(bytes.data(), bytes.size());
  }
}
} // namespace

void SetRepeatNote(RepeatNote note) {
  repeatNote = note;
}

unsigned long MessageCount() {
  return messageCount;
}

unsigned long CapturedMessageCount() {
  return capturedCount;
}

void WriteMessage(std::string_view utf8) {
  if (captured) {
    ++capturedCount;
    captured->append(utf8);
    return;
  }
  ++messageCount;
  WriteNow(utf8);
}

void WriteCapturedMessages(std::string_view utf8, unsigned long count) {
  messageCount += count;
  WriteNow(utf8);
}

void WriteMessageLine(std::string_view utf8) {
  std::string line(utf8);
  line += '\n';
  WriteMessage(line);
}

bool TerminalInBackground(int fd) {
  if (!isatty(fd))
    return false;
  const pid_t foreground = tcgetpgrp(fd);
  return foreground >= 0 && foreground != getpgrp();
}

void StayRunningInBackground() {
  if (!(TerminalInBackground(0) || TerminalInBackground(1) || TerminalInBackground(2)))
    return;
  signal(SIGTTOU, SIG_IGN);
  signal(SIGTTIN, SIG_IGN);
}

bool KeyPressed() {
  // The window is asked first and always: the question also keeps it
  // responsive.
  bool windowKey = windowKeys != nullptr && windowKeys();
  // Poll alone would report an end of file or a hang-up as input; only a
  // byte that is really there counts. On a regular file that is any unread
  // byte before its end.
  struct pollfd p {};
  // A background run's terminal belongs to the foreground job.
  p.fd = TerminalInBackground(0) ? -1 : 0;
  p.events = POLLIN;
  bool stdinKey = false;
  if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
    int n = 0;
    stdinKey = ioctl(0, FIONREAD, &n) == 0 && n > 0;
  }
  return windowKey || stdinKey;
}

void SetWindowKeySource(KeySource source) {
  windowKeys = source;
}

bool InRunMode() {
  // A run stopped by job control is still in run mode: it comes back on
  // continue.
  return inRunMode != 0 || resumeRunMode != 0;
}

void EnterRunMode() {
  if (!isatty(0) || TerminalInBackground(0))
    return;
  if (!haveSavedMode) {
    if (tcgetattr(0, &savedMode) != 0)
      return;
    haveSavedMode = 1;
  }
  runMode = savedMode;
  runMode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  runMode.c_cc[VMIN] = 1;
  runMode.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSANOW, &runMode) != 0)
    return;
  inRunMode = 1;
  SetRestoreHook(RestoreTerminal);
  SetTerminalJobControlHooks(SuspendRunMode, ResumeRunMode);
  if (!restoreAtExit) {
    restoreAtExit = true;
    std::atexit(RestoreTerminalAtExit);
  }
}

void RestoreTerminal() {
  resumeRunMode = 0;
  if (inRunMode && haveSavedMode) {
    // A run moved to the background must still leave the terminal as it
    // found it rather than stop on SIGTTOU.
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetattr(0, TCSANOW, &savedMode);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    inRunMode = 0;
  }
}

void SuspendRunMode() {
  if (!inRunMode)
    return;
  RestoreTerminal();
  resumeRunMode = 1;
}

void ResumeRunMode() {
  // A stop the handler never saw (SIGSTOP) leaves the run mode marked as in
  // force while the shell may have reset the terminal: set it again too.
  if (!(resumeRunMode || inRunMode) || !haveSavedMode)
    return;
  // Continued in the background (bg): the mode waits for the next continue,
  // in the foreground. A terminal that is not the controlling one has no
  // foreground to wait for.
  const pid_t foreground = tcgetpgrp(0);
  if (foreground >= 0 && foreground != getpgrp())
    return;
  if (tcsetattr(0, TCSANOW, &runMode) == 0) {
    inRunMode = 1;
    resumeRunMode = 0;
  }
}

void MakeStandardDescriptorsValid() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    // The lower descriptors are valid by now, so the lowest free number is
    // this one.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

void SetBeforeMessageHook(BeforeMessageHook hook) {
  beforeMessage = hook;
}

void BeforeConsoleText() {
  if (beforeMessage)
    beforeMessage();
}

unsigned TerminalColumns(int fd) {
  struct winsize ws {};
  return ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col : 0u;
}

std::string FitToTerminal(int fd, const std::string &text) {
  // The last column stays free, so that the cursor never reaches the wrap
  // margin.
  const unsigned columns = TerminalColumns(fd);
  return columns > 0 && text.size() >= columns ? text.substr(0, columns - 1u) : text;
}

} // namespace zanfel
