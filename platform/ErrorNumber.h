#pragma once

namespace korvo {

// The error number of the platform call that failed last on this thread:
// errno on Linux, GetLastError() on Windows.
int LastErrorNumber();
void SetLastErrorNumber(int error);

}  // namespace korvo
