#pragma once

#include <string>
#include <string_view>

namespace korvo {

// `text` as it may be written to a terminal: printable ASCII and valid
// UTF-8 pass; control characters (C0, DEL, and C1 in UTF-8), bytes that are
// not valid UTF-8 and everything else that a terminal could take for part of
// a control sequence show as \xHH, one per byte. A device's name is not
// ours, so it must not move the cursor, recolour or retitle the terminal.
std::string TerminalSafe(std::string_view text);

}  // namespace korvo
