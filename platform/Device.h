#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// An open device; each platform layer defines it. nullptr marks a failed open.
struct Device;

// Opens the device by its interface path, exclusively: the open fails while
// another program holds the device.
Device* OpenDevice(const std::string& path);

// What the last failed OpenDevice found on its way, for whoever explains
// the failure to the operator.
struct OpenFailure {
  std::string node;     // what refused: the device's node, or its path
  int error = 0;        // the system's reason
  bool gone = false;    // the device is no longer where it was listed
  std::string advice;   // what to do about it, where the system tells; else ""
};
const OpenFailure& LastOpenFailure();

// The port-status request (control code 0x220030). Waits for the answer.
// The reply bytes land at the start of `reply`; *replyCount says how many.
bool QueryPortStatus(Device* device, const void* input, uint32_t inputLength,
                     void* reply, uint32_t replyLength, uint32_t* replyCount);

// Told, during a write, how many bytes have reached the device so far. How
// often depends on the platform: after each piece it sends, or only at the end.
class WriteProgress {
 public:
  virtual void Sent(uint64_t bytes) = 0;

 protected:
  ~WriteProgress() = default;
};

// Writes `length` raw bytes; *written says how many reached the device.
// True only when all of them did: a short write answers false, with the
// error number set, like a failed one. `progress`, when given, hears of
// the bytes sent as they go. With `stallSeconds`, a write that makes no
// progress for that long is cancelled and fails with TimedOutErrorNumber();
// 0 waits for as long as the device takes.
bool WriteDevice(Device* device, const void* data, uint64_t length, uint64_t* written,
                 WriteProgress* progress = nullptr, unsigned stallSeconds = 0);

void CloseDevice(Device* device);

}  // namespace korvo
