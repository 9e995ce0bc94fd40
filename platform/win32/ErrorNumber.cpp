#include "platform/ErrorNumber.h"

#include <windows.h>

namespace korvo {

// Error numbers are printed signed, as the system's DWORD codes read as int.
int LastErrorNumber() { return static_cast<int>(GetLastError()); }

void SetLastErrorNumber(int error) { SetLastError(static_cast<DWORD>(error)); }

int TimedOutErrorNumber() { return ERROR_TIMEOUT; }

std::string ErrorText(int error) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  // The system's messages end in ".\r\n"; a hint line has its own ending.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' ||
                           text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

}  // namespace korvo
