// Runs the command under test and turns its end into an exit status.
#pragma once

#include <string>
#include <vector>

namespace korvo_emu {

inline constexpr int kExitCannotRun = 126;
inline constexpr int kExitNotFound = 127;

// Runs `command` with `environment` (NAME=VALUE strings), forwarding SIGINT,
// SIGTERM, SIGHUP and SIGQUIT to it, and waits for it. Returns its exit status,
// 128+N if signal N killed it, 127 if it was not found and 126 if it could not be
// started (with a message on stderr).
int RunCommand(const std::vector<std::string>& command,
               const std::vector<std::string>& environment);

}  // namespace korvo_emu
