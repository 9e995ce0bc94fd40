#include "platform/Console.h"

#include <unistd.h>

namespace korvo {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace korvo
