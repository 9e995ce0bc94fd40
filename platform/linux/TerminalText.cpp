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
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(0);
  if (lead >= 0x20 && lead < 0x7f) return 1;

  size_t length;
  uint32_t code;
  uint32_t lowest;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, code = lead & 0x1fu, lowest = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, code = lead & 0x0fu, lowest = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, code = lead & 0x07u, lowest = 0x10000;
  } else {
    return 0;  // C0, DEL, a stray continuation byte, or never valid
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3fu);
  }
  if (code < lowest || code > 0x10ffff) return 0;   // overlong or beyond Unicode
  if (code >= 0xd800 && code <= 0xdfff) return 0;   // surrogate
  if (code >= 0x80 && code <= 0x9f) return 0;       // C1 control, e.g. CSI
  if (IsFormatCharacter(code)) return 0;            // e.g. U+202E, which reverses
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
