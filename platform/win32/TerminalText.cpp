// Text for the console. The program's text is in the ANSI code page, where
// every byte from 0x80 up is a character: only the C0 controls and DEL are
// escaped. The console reads bytes in its own code page (the OEM one unless
// someone changed it), so text goes to it as UTF-16 instead.
#include "platform/TerminalText.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <string>

namespace korvo {

// Only a console has a console mode; a pipe or file has none.
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

void WriteText(std::FILE* stream, std::string_view text) {
  auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (text.empty() || !GetConsoleMode(console, &mode)) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  // What the stream holds goes first; and the line ends are the ones the C
  // runtime's text mode would have written.
  std::fflush(stream);
  std::string lines;
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  int length = MultiByteToWideChar(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, lines.data(), static_cast<int>(lines.size()), wide.data(), length);
  for (size_t done = 0; done < wide.size();) {
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(wide.size() - done), &written,
                       nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
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
