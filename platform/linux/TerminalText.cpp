// Linux terminals read UTF-8: printable ASCII and valid UTF-8 pass; control
// characters (C0, DEL, and C1 in UTF-8), format characters, bytes that are
// not valid UTF-8 and everything else that a terminal could take for part of
// a control sequence are escaped, one per byte.
#include "platform/TerminalText.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace korvo {

namespace {

// Length of the valid UTF-8 sequence at the start of `text` that encodes a
// printable character (not a C1 control); 0 when there is none.
size_t PrintableSequence(std::string_view text) {
  uint8_t lead = static_cast<uint8_t>(text[0]);
  if (lead >= 0x20 && lead < 0x7f) return 1;
  uint32_t code = 0;
  size_t length = Utf8Sequence(text, &code);
  if (length < 2) return 0;                     // C0, DEL, or not UTF-8
  if (code >= 0x80 && code <= 0x9f) return 0;   // C1 control, e.g. CSI
  if (IsFormatCharacter(code)) return 0;        // e.g. U+202E, which reverses
  return length;
}

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

unsigned StderrColumns() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string TextAsUtf8(std::string_view text) { return std::string(text); }

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    size_t length = PrintableSequence(text);
    if (length > 0) {
      safe.append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<uint8_t>(text[0]));
    safe += escaped;
    text.remove_prefix(1);
  }
  return safe;
}

}  // namespace korvo
