#pragma once

namespace korvo {

// True when the process's standard error is a terminal (a console on
// Windows): a person is reading it, so progress and hints may be shown.
bool StderrIsTerminal();

}  // namespace korvo
