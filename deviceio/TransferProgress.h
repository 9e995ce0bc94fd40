#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Device.h"

namespace korvo {

// "12.0 of 64.0 MiB  18%  10.2 MiB/s  0:05 left": `sent` of `total` bytes
// after `seconds` of transfer. The rate and time left need some time gone.
std::string ProgressText(uint64_t sent, uint64_t total, double seconds);

// The progress line on stderr during a transfer, for a person watching a
// terminal: drawn once the transfer has lasted a second, redrawn at most ten
// times a second, and erased at the end, so that the terminal keeps only the
// lines a run without a terminal prints.
class TransferProgress final : public WriteProgress {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TransferProgress(uint64_t total) : total_(total), start_(Clock::now()) {}
  ~TransferProgress() { Erase(); }
  TransferProgress(const TransferProgress&) = delete;
  TransferProgress& operator=(const TransferProgress&) = delete;

  void Sent(uint64_t bytes) override;
  // Takes the line off the terminal, if it was drawn.
  void Erase();

 private:
  uint64_t total_;
  Clock::time_point start_;
  Clock::time_point drawn_{};
  bool shown_ = false;
};

}  // namespace korvo
