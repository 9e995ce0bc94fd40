#pragma once

namespace korvo {

// One run of the tool, from initialisation to the exit status (0 or 1).
int RunTestSequence(int argc, char* argv[]);

}  // namespace korvo
