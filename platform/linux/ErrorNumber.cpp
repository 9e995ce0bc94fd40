#include "platform/ErrorNumber.h"

#include <cerrno>

namespace korvo {

int LastErrorNumber() { return errno; }

void SetLastErrorNumber(int error) { errno = error; }

}  // namespace korvo
