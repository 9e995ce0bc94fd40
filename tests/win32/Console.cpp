#include "Console.h"

#include <windows.h>

namespace korvo::win32test {

std::string NewConsole() {
  char display[256];
  if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display)) {
    return "Wine's console keeps its screen only on a display (run under xvfb-run)";
  }
  FreeConsole();
  if (!AllocConsole()) return "AllocConsole failed with error " + std::to_string(GetLastError());
  return "";
}

std::wstring ConsoleScreen() {
  HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return L"";
  CONSOLE_SCREEN_BUFFER_INFO info;
  std::wstring screen;
  if (GetConsoleScreenBufferInfo(console, &info)) {
    for (SHORT row = 0; row < info.dwCursorPosition.Y; ++row) {
      std::wstring line(static_cast<size_t>(info.dwSize.X), L' ');
      DWORD read = 0;
      ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()), {0, row}, &read);
      line.resize(read);
      line.erase(line.find_last_not_of(L' ') + 1);
      screen += line + L"\n";
    }
  }
  CloseHandle(console);
  return screen;
}

std::wstring FromAnsi(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

}  // namespace korvo::win32test
