// The console shows text in the system's code page, where every byte from
// 0x80 up is part of a character: the C0 controls and DEL are escaped, and so
// are the code page's invisible format characters (the soft hyphen of 1252,
// the direction marks of 1255 and 1256).
#include "platform/TerminalText.h"

#include <windows.h>

#include <cstdio>

namespace korvo {

// Only a console has a console mode; a pipe or file has none.
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

bool StdoutIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

// The window's width, not the buffer's: the buffer may be wider than what shows.
unsigned StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::string TerminalSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    unsigned char byte = static_cast<unsigned char>(text[0]);
    // One character of the code page: a lead byte and its trail (never below
    // 0x40 nor DEL), or one byte.
    bool pair = IsDBCSLeadByte(byte) && text.size() > 1 &&
                static_cast<unsigned char>(text[1]) >= 0x40 && text[1] != 0x7f;
    size_t length = pair ? 2 : 1;
    bool visible = byte >= 0x20 && byte != 0x7f;
    if (visible && byte >= 0x80) {
      WCHAR wide[2];
      int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(length), wide, 2);
      visible = n == 1 && !IsFormatCharacter(wide[0]);
    }
    for (size_t i = 0; i < length; ++i) {
      if (visible) {
        safe += text[i];
        continue;
      }
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
      safe += escaped;
    }
    text.remove_prefix(length);
  }
  return safe;
}

}  // namespace korvo
