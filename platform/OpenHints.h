#pragma once

#include <string>
#include <vector>

namespace korvo {

// What an operator is told after "Unable to open": one line each, saying
// what the system refused (the device node and the reason for `error`, the
// error number OpenDevice left) and, where known, what to do about it.
std::vector<std::string> DeviceOpenHints(const std::string& path, int error);

}  // namespace korvo
