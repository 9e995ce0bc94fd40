#include "fake/FakeDevice.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/ErrorNumber.h"

namespace korvo {

// A fake device is only ever compared by address.
struct Device {
  std::string path;
};

namespace fake {

namespace {

constexpr uint64_t kKeptWriteBytes = 1024 * 1024;

struct State {
  std::mutex mutex;
  std::condition_variable queried;
  DeviceAnswers answers;
  DeviceLog log;
  std::vector<Device*> everOpened;  // monitors may use them after their test
};

// Never destroyed: monitor threads that outlive their test still use it
// while the process exits.
State& Devices() {
  static State* state = new State;
  return *state;
}

}  // namespace

void ResetDevices(const DeviceAnswers& answers) {
  std::lock_guard<std::mutex> lock(Devices().mutex);
  Devices().answers = answers;
  Devices().log = {};
}

void SetDeviceAnswers(const DeviceAnswers& answers) {
  std::lock_guard<std::mutex> lock(Devices().mutex);
  Devices().answers = answers;
}

DeviceLog DevicesLog() {
  std::lock_guard<std::mutex> lock(Devices().mutex);
  return Devices().log;
}

bool WaitForQueries(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(Devices().mutex);
  return Devices().queried.wait_for(lock, limit,
                                    [count] { return Devices().log.queries.size() >= count; });
}

}  // namespace fake

Device* OpenDevice(const std::string& path) {
  fake::State& state = fake::Devices();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.log.opened.push_back(path);
  if (state.answers.openFails) {
    SetLastErrorNumber(state.answers.openError);
    return nullptr;
  }
  Device* device = new Device{path};
  state.everOpened.push_back(device);
  state.log.openDevices.push_back(device);
  return device;
}

bool QueryPortStatus(Device* device, const void* input, uint32_t inputLength, void* reply,
                     uint32_t replyLength, uint32_t* replyCount) {
  fake::State& state = fake::Devices();
  bool ok;
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.log.queries.push_back(
        {device, inputLength, replyLength, input == nullptr, std::this_thread::get_id()});
    ok = !state.answers.queryFails;
    if (ok) {
      const std::vector<unsigned char>& answer = state.answers.reply;
      std::memcpy(reply, answer.data(), std::min<size_t>(answer.size(), replyLength));
      *replyCount = state.answers.replyCount;
    } else {
      error = state.answers.queryError;
    }
  }
  state.queried.notify_all();
  if (!ok) SetLastErrorNumber(error);
  return ok;
}

bool WriteDevice(Device* device, const void* data, uint64_t length, uint64_t* written,
                 WriteProgress* progress, unsigned stallSeconds) {
  fake::State& state = fake::Devices();
  std::lock_guard<std::mutex> lock(state.mutex);
  const char* bytes = static_cast<const char*>(data);
  state.log.writes.push_back(
      {device, length, length <= fake::kKeptWriteBytes ? std::string(bytes, static_cast<size_t>(length)) : "",
       stallSeconds});
  int64_t accepts = state.answers.writeAccepts;
  if (accepts >= 0 && static_cast<uint64_t>(accepts) < length) {
    *written = static_cast<uint64_t>(accepts);
    SetLastErrorNumber(state.answers.writeError);
    return false;
  }
  *written = length;
  if (progress) progress->Sent(length);
  return true;
}

void CloseDevice(Device* device) {
  std::lock_guard<std::mutex> lock(fake::Devices().mutex);
  fake::Devices().log.closed.push_back(device);
}

}  // namespace korvo

namespace korvo {

// The fake devices have no system behind them to explain a failure.
const OpenFailure& LastOpenFailure() {
  static OpenFailure failure;
  fake::State& state = fake::Devices();
  std::lock_guard<std::mutex> lock(state.mutex);
  failure = {state.log.opened.back(), state.answers.openError, false, ""};
  return failure;
}

}  // namespace korvo
