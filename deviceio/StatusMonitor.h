#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Device.h"
#include "platform/Event.h"

namespace korvo {

// What the status monitor shares with whoever controls it. Created by
// StartStatusMonitor and never released: the monitor may run until the
// process ends.
struct MonitorContext {
  Device* hDevice;                   // not owned; must stay open while a signal can come
  std::atomic<uint16_t> bRunning;    // cleared: the monitor ends at its next turn
  Event* hEvent;                     // signalled: the monitor queries and prints once
};

// Starts the monitor thread on the open device. nullptr when it could not be
// started; the caller goes on either way.
MonitorContext* StartStatusMonitor(Device* device);

// The monitor thread: waits up to 100 ms per turn for hEvent, and on each
// signal asks the device for its port status and prints it. Returns 0 once
// bRunning is found cleared.
uint32_t StatusMonitorProc(void* parameter);

}  // namespace korvo
