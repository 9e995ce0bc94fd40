#include "platform/ErrorNumber.h"

#include <windows.h>

namespace korvo {

// Error numbers are printed signed, as the system's DWORD codes read as int.
int LastErrorNumber() { return static_cast<int>(GetLastError()); }

void SetLastErrorNumber(int error) { SetLastError(static_cast<DWORD>(error)); }

}  // namespace korvo
