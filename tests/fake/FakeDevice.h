#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/Device.h"

namespace korvo::fake {

// How the fake devices answer. Every field has the answer of a healthy
// device that reports status 0x98.
struct DeviceAnswers {
  bool openFails = false;
  int openError = 16;  // EBUSY's number; any number will do

  bool queryFails = false;
  int queryError = 32;
  std::vector<unsigned char> reply = {0x98};  // the bytes the device answers with
  uint32_t replyCount = 1;                    // the count it reports for them

  // The write fails once this many bytes went through (no limit when negative).
  int64_t writeAccepts = -1;
  int writeError = 19;
};

struct QueryCall {
  const Device* device;
  uint32_t inputLength;
  uint32_t replyLength;
  bool inputNull;
  std::thread::id thread;
};

struct WriteCall {
  const Device* device;
  uint64_t length;
  std::string data;  // the bytes, for writes of up to 1 MiB
  unsigned stallSeconds;
};

// Everything the fake devices were asked, in order.
struct DeviceLog {
  std::vector<std::string> opened;         // paths, failed opens included
  std::vector<const Device*> openDevices;  // the handles handed out
  std::vector<QueryCall> queries;
  std::vector<WriteCall> writes;
  std::vector<const Device*> closed;
};

// Clears the log and sets the answers. Safe while other threads use the fake.
void ResetDevices(const DeviceAnswers& answers = {});
void SetDeviceAnswers(const DeviceAnswers& answers);
DeviceLog DevicesLog();

// Waits until at least `count` queries were made; false after `limit`.
bool WaitForQueries(size_t count, std::chrono::milliseconds limit);

}  // namespace korvo::fake
