#pragma once

#include <string>
#include <string_view>

namespace korvo {

// True when the process's standard error is a terminal (a console on
// Windows): a person is reading it, so progress and hints may be shown.
bool StderrIsTerminal();

// `text` as it may be written to the operator's terminal or console: what
// prints as itself passes unchanged, and every byte that could act as a
// control (move the cursor, clear the screen, ring the bell, start an escape
// sequence) shows as \xHH. A device's name is not ours, so it must not do
// any of that, nor forge a line of the tool's own output.
std::string TerminalSafe(std::string_view text);

}  // namespace korvo
