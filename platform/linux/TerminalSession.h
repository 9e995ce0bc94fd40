#pragma once

#include <string_view>

namespace korvo {

// The process's controlling terminal, /dev/tty: the operator's own channel,
// apart from stdout and stderr, which carry the tool's lines and may be piped.
// One session at a time.
class TerminalSession {
 public:
  TerminalSession() = default;
  ~TerminalSession();  // the terminal as it was found, then closed
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  // False, at once, when the process has no controlling terminal.
  bool Open();

  // Keys arrive one at a time and are not echoed; Ctrl-C still interrupts.
  // The terminal's state comes back on destruction and also when SIGINT,
  // SIGTERM, SIGHUP or SIGQUIT ends the process meanwhile.
  bool EnterKeyMode();

  void Write(std::string_view text);

  static constexpr int kEnd = -1;      // end of input, or the terminal failed
  static constexpr int kTimeout = -2;  // nothing came within the time given
  // The next byte typed (0..255); waits at most timeoutMs when it is >= 0.
  int ReadByte(int timeoutMs = -1);

  // The terminal's own erase and end-of-input keys.
  unsigned char EraseKey() const { return erase_; }
  unsigned char EndKey() const { return end_; }

 private:
  int fd_ = -1;
  bool keyMode_ = false;
  unsigned char erase_ = 0x7f;
  unsigned char end_ = 0x04;
};

}  // namespace korvo
