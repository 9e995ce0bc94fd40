#pragma once

namespace korvo {

// Writes a line to the debug trace channel, never to stdout or stderr.
void WriteTrace(const char* text);

}  // namespace korvo
