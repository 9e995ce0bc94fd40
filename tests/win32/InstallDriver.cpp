// Installs the test driver's KORVO device in the Wine prefix, as the
// 64-bit installer does on 64-bit Windows, where a 32-bit one is refused
// (ERROR_IN_WOW64). tools/windows/run-tests.sh runs this 64-bit program
// before the 32-bit tests, which then meet the 64-bit driver.
#include <cstdio>

#include "DriverDevice.h"

int main() {
  std::string why = korvo::win32test::InstallDriverDevice();
  if (why.empty()) return 0;
  std::fprintf(stderr, "the test driver cannot be installed: %s\n", why.c_str());
  return 1;
}
