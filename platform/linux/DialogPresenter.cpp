// The dialog on Linux: a question on the controlling terminal.
//
//   Select Device to Test
//
//       1  Alpha
//     * 2  Beta
//
//   Device (1-2, Enter for 2, q to cancel):
//
// Enter alone confirms the marked (selected) item, a number then Enter
// confirms that item; q then Enter, Escape or end of input cancel. Anything
// else is answered with what is accepted, and the question comes again.
#include "platform/DialogPresenter.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/TerminalText.h"
#include "platform/linux/DialogPresenter.h"
#include "platform/linux/Linux.h"

namespace korvo {

namespace {

// Longest answer kept; a device number never comes near it.
constexpr size_t kMaxAnswer = 16;

// What the typed line means: "" picks the preselected item, "q" cancels, a
// number within 1..count picks that item.
Answer Interpret(const std::string& line, int count, int preselected, const std::string& echo) {
  if (line.empty()) {
    if (preselected < 0 || preselected >= count) return {Answer::Invalid, -1, echo};
    return {Answer::Confirm, preselected, echo};
  }
  if (line == "q" || line == "Q") return {Answer::Cancel, -1, echo};
  int value = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return {Answer::Invalid, -1, echo};
    value = value * 10 + (c - '0');  // stays within count: checked next
    if (value > count) return {Answer::Invalid, -1, echo};
  }
  if (value < 1) return {Answer::Invalid, -1, echo};
  return {Answer::Confirm, value - 1, echo};
}

}  // namespace

Answer ReadAnswer(std::span<const int> keys, int count, int preselected, unsigned char eraseKey,
                  unsigned char endKey) {
  // Escape sequences are skipped: CSI (ESC [ ... final byte), SS3 (ESC O x)
  // or Alt with one key; nothing in time after a lone Escape cancels.
  enum { Plain, AfterEscape, InSs3, InCsi } state = Plain;
  std::string line;
  std::string echo;
  for (int c : keys) {
    switch (state) {
      case AfterEscape:
        if (c == kTimeout || c == kEndOfInput) return {Answer::Cancel, -1, echo + "\n"};
        state = c == '[' ? InCsi : c == 'O' ? InSs3 : Plain;
        continue;
      case InSs3:
        state = Plain;  // its one key, or nothing in time
        continue;
      case InCsi:
        if (c < 0 || (c >= 0x40 && c <= 0x7e)) state = Plain;  // its final byte, or nothing in time
        continue;
      case Plain:
        break;
    }
    if (c == kEndOfInput || (c == endKey && endKey != 0 && line.empty())) {
      return {Answer::End, -1, echo + "\n"};
    }
    if (c == 0x1b) {
      state = AfterEscape;
      continue;
    }
    if (c == '\n' || c == '\r') return Interpret(line, count, preselected, echo + "\n");
    if ((c == eraseKey && eraseKey != 0) || c == 0x7f || c == '\b') {
      if (!line.empty()) {
        line.pop_back();
        echo += "\b \b";
      }
      continue;
    }
    if (c >= 0x21 && c < 0x7f && line.size() < kMaxAnswer) {
      line += static_cast<char>(c);
      echo += static_cast<char>(c);
    }
    // Other keys (controls, spaces, bytes of other characters) are not part of an answer.
  }
  return {state == Plain ? Answer::NeedKey : Answer::NeedKeySoon, -1, echo};
}

namespace {

// The process's controlling terminal, /dev/tty: the operator's own channel,
// apart from stdout and stderr, which carry the tool's lines and may be
// piped. Keys arrive one at a time and are not echoed; Ctrl-C still
// interrupts. The terminal's state comes back on destruction, and when a
// signal ends the process meanwhile (Signals.cpp).
class Terminal {
 public:
  Terminal() = default;
  ~Terminal() {
    if (keyMode_) {
      SignalHold hold;
      DisarmExitAction(guard_);
      tcsetattr(fd_, TCSANOW, &found_);
    }
    if (fd_ >= 0) close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // False, at once, when the process has no controlling terminal (ENXIO).
  bool Open() {
    fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return fd_ >= 0;
  }

  bool EnterKeyMode() {
    if (tcgetattr(fd_, &found_) != 0) return false;
    eraseKey = found_.c_cc[VERASE];
    endKey = found_.c_cc[VEOF];

    termios keys = found_;
    keys.c_lflag &= ~(ICANON | ECHO | IEXTEN);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    // Suspending would leave the terminal in this mode under the shell.
    keys.c_cc[VSUSP] = _POSIX_VDISABLE;

    guard_ = ArmExitAction(RestoreOnExit, this);
    // Keys typed before the question was asked (a stray Enter while the
    // devices were being listed) must not answer it: they are discarded.
    if (tcsetattr(fd_, TCSAFLUSH, &keys) != 0) {
      DisarmExitAction(guard_);
      return false;
    }
    keyMode_ = true;
    return true;
  }

  void Write(std::string_view text) {
    while (!text.empty()) {
      ssize_t n = write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a terminal that takes nothing shows up when reading
      text.remove_prefix(static_cast<size_t>(n));
    }
  }

  // The next byte typed (0..255), kEndOfInput, or kTimeout when `timeoutMs`
  // is >= 0 and nothing came within it.
  int ReadKey(int timeoutMs) {
    for (;;) {
      if (timeoutMs >= 0) {
        pollfd ready = {fd_, POLLIN, 0};
        int n = poll(&ready, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return kTimeout;
        if (n < 0) return kEndOfInput;
      }
      unsigned char byte = 0;
      ssize_t n = read(fd_, &byte, 1);
      if (n == 1) return byte;
      if (n < 0 && errno == EINTR) continue;
      return kEndOfInput;  // 0: end of input; else e.g. EIO once the terminal hangs up
    }
  }

  // The terminal's own erase and end-of-input keys, once in key mode.
  unsigned char eraseKey = 0x7f;
  unsigned char endKey = 0x04;

 private:
  // The exit action: the terminal as it was found, should a signal end the
  // process during the question.
  static void RestoreOnExit(void* terminal) {
    const Terminal& self = *static_cast<const Terminal*>(terminal);
    tcsetattr(self.fd_, TCSANOW, &self.found_);
  }

  int fd_ = -1;
  bool keyMode_ = false;
  termios found_ = {};
  int guard_ = -1;
};

std::string Choices(int count, int selection) {
  std::string choices;
  if (count > 0) choices += "1-" + std::to_string(count) + ", ";
  if (selection >= 0) choices += "Enter for " + std::to_string(selection + 1) + ", ";
  return choices + "q to cancel";
}

}  // namespace

std::optional<int> AskChoice(const char* caption, const char* label, const DropDownList& list) {
  Terminal tty;
  if (!tty.Open() || !tty.EnterKeyMode()) return std::nullopt;

  int count = static_cast<int>(list.items.size());
  int selection = list.selection >= 0 && list.selection < count ? list.selection : -1;
  std::string screen = "\n" + std::string(caption) + "\n\n";
  for (int i = 0; i < count; ++i) {
    screen += i == selection ? "  * " : "    ";
    screen += std::to_string(i + 1) + "  " + TerminalSafe(list.items[static_cast<size_t>(i)]) + "\n";
  }
  tty.Write(screen + "\n");

  const std::string choices = Choices(count, selection);
  const std::string prompt = std::string(label) + " (" + choices + "): ";
  for (;;) {
    tty.Write(prompt);
    std::vector<int> keys;
    Answer answer = ReadAnswer(keys, count, selection, tty.eraseKey, tty.endKey);
    while (answer.kind == Answer::NeedKey || answer.kind == Answer::NeedKeySoon) {
      keys.push_back(tty.ReadKey(answer.kind == Answer::NeedKeySoon ? kEscapeSequenceMs : -1));
      size_t shown = answer.echo.size();
      answer = ReadAnswer(keys, count, selection, tty.eraseKey, tty.endKey);
      tty.Write(std::string_view(answer.echo).substr(shown));
    }
    if (answer.kind == Answer::Confirm) return answer.item;
    if (answer.kind != Answer::Invalid) return std::nullopt;  // cancelled, or nobody left to ask
    tty.Write("Please answer " + choices + ".\n");
  }
}

}  // namespace korvo
