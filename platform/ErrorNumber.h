#pragma once

#include <string>

namespace korvo {

// The error number of the platform call that failed last on this thread:
// errno on Linux, GetLastError() on Windows.
int LastErrorNumber();
void SetLastErrorNumber(int error);

// The system's own words for an error number (strerror, FormatMessage).
std::string ErrorText(int error);

}  // namespace korvo
