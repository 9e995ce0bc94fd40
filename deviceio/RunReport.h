#pragma once

#include <cstdint>
#include <optional>

namespace korvo {

// What one run found out, for a machine to read (--json). The stages given
// one fill it in and leave the run's human lines on stdout to it.
struct RunReport {
  std::optional<unsigned> status;     // the port status byte, when the request answered
  std::optional<int> statusError;     // the request's error number, when it failed
  std::optional<uint64_t> fileBytes;  // the file's size, once it was read
  uint64_t bytesSent = 0;             // what the device accepted
  int writeError = 0;                 // the failed write's error number; 0 when none failed
};

}  // namespace korvo
