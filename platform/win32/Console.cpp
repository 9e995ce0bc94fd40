#include "platform/Console.h"

#include <windows.h>

namespace korvo {

// Only a console has a console mode; a pipe or file has none.
bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

}  // namespace korvo
