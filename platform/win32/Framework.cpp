// Process initialisation for the Windows build. The tool has no application
// framework; what it needs from one at start-up is the module it runs from and
// its command line, and the answer whether the process can be used at all.
#include "platform/Framework.h"

#include <windows.h>

namespace korvo {

namespace {

struct Application {
  HINSTANCE instance = nullptr;
  const char* commandLine = nullptr;
  int showCommand = SW_HIDE;
};

Application g_application;

}  // namespace

bool InitFramework() {
  g_application.instance = GetModuleHandleA(nullptr);
  g_application.commandLine = GetCommandLineA();
  // The tool opens no main window, so it is never shown.
  g_application.showCommand = SW_HIDE;
  return g_application.instance != nullptr && g_application.commandLine != nullptr;
}

}  // namespace korvo
