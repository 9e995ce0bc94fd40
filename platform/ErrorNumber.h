#pragma once

#include <string>

namespace korvo {

// The error number of the platform call that failed last on this thread:
// errno on Linux, GetLastError() on Windows.
int LastErrorNumber();
void SetLastErrorNumber(int error);

// The error number a write ends with when it made no progress for its
// time-out: ETIMEDOUT, ERROR_TIMEOUT.
int TimedOutErrorNumber();

// The system's own words for an error number (strerror, FormatMessage).
std::string ErrorText(int error);

}  // namespace korvo
