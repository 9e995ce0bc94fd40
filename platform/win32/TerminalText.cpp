// The console shows text in the system's code page, where every byte from
// 0x80 up is a character: only the C0 controls and DEL are escaped.
#include "platform/TerminalText.h"

#include <windows.h>

#include <cstdio>

namespace korvo {

// Only a console has a console mode; a pipe or file has none.
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      safe += c;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    safe += escaped;
  }
  return safe;
}

}  // namespace korvo
