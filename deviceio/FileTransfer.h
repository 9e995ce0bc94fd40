#pragma once

#include "deviceio/RunReport.h"
#include "platform/Device.h"

namespace korvo {

enum class TransferResult {
  Sent,           // the whole file reached the device; file and device are closed
  FileNotOpened,  // nothing was sent; the device is still open
  FileNotRead,    // nothing was sent; file and device are closed
  NotWritten,     // the write failed or fell short; file and device are closed
};

// Sends the whole content of the file at `path` to the device in one write,
// then closes the file and the device. Each failure prints its own line on
// stdout; with a report, it is recorded there instead. `path` must not be
// null (an absent argument is the empty path). `stallSeconds`: as
// WriteDevice takes it; a write cancelled for making no progress is a
// NotWritten one, with the time-out's error number. `sharedFile`: the file
// is opened shared (OpenInputFile).
TransferResult SendFile(const char* path, Device* device, RunReport* report = nullptr,
                        unsigned stallSeconds = 0, bool sharedFile = false);

}  // namespace korvo
