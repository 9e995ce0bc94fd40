// Text for the console. The program's text is in the ANSI code page, where
// every byte from 0x80 up is part of a character: the C0 controls and DEL are
// escaped, and so are the code page's invisible format characters (the soft
// hyphen of 1252, the direction marks of 1255 and 1256). The console reads
// bytes in its own code page (the OEM one unless someone changed it), so text
// goes to it as UTF-16 instead.
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

std::string TextAsUtf8(std::string_view text) {
  if (text.empty()) return "";
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return std::string(text);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string(text);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
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
