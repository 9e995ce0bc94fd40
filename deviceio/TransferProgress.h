#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Device.h"

namespace korvo {

// "12.0 of 64.0 MiB  18%  10.2 MiB/s  0:05 left": `sent` of `total` bytes
// after `seconds` of transfer. The rate and time left need some time gone.
// Cut to fit a terminal `columns` wide without reaching its last column,
// where the line would wrap and outlast its erasing; 0: width unknown.
std::string ProgressText(uint64_t sent, uint64_t total, double seconds, unsigned columns = 0);

// The progress line on stderr during a transfer, for a person watching a
// terminal: drawn once the transfer has lasted a second, redrawn ten times a
// second, and erased at the end, so that the terminal keeps only the lines a
// run without a terminal prints. A thread of its own draws it, so that it
// shows however long the writes the platform makes last.
class TransferProgress final : public WriteProgress {
 public:
  explicit TransferProgress(uint64_t total);
  // Stops the drawing and takes the line off the terminal, if it was drawn.
  ~TransferProgress();
  TransferProgress(const TransferProgress&) = delete;
  TransferProgress& operator=(const TransferProgress&) = delete;

  void Sent(uint64_t bytes) override;

 private:
  struct Line;  // what the drawing thread shares, alive until both are done
  std::shared_ptr<Line> line_;
};

}  // namespace korvo
