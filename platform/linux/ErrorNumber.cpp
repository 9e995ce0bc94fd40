#include "platform/ErrorNumber.h"

#include <cerrno>
#include <cstring>

namespace korvo {

int LastErrorNumber() { return errno; }

void SetLastErrorNumber(int error) { errno = error; }

int TimedOutErrorNumber() { return ETIMEDOUT; }

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace korvo
