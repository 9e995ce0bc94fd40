// Process initialisation for the Windows build. The tool has no application
// framework; what it needs from one at start-up is the answer whether the
// process can be used at all: the module it runs from and its command line.
#include "platform/Framework.h"

#include <windows.h>

namespace korvo {

bool InitFramework() { return GetModuleHandleA(nullptr) != nullptr && GetCommandLineA() != nullptr; }

}  // namespace korvo
