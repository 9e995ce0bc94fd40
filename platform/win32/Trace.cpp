#include "platform/Trace.h"

#include <windows.h>

namespace korvo {

// The debug trace channel: seen by a debugger or a trace viewer, never on the
// console.
void WriteTrace(const char* text) { OutputDebugStringA(text); }

}  // namespace korvo
