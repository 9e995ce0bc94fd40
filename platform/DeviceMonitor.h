#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/DeviceInterfaces.h"

namespace korvo {

// Tells when USB devices are plugged in or unplugged, for runs that wait for
// a unit. Started before the look at the present devices that decides to
// wait, so that nothing plugged in between that look and the wait is missed;
// after each change the caller looks again.
//
// While a monitor lives, SIGINT and SIGTERM (Windows: Ctrl-C and Ctrl-Break)
// no longer end the process: they ask the waiting to stop (StopRequested).
// An open device's own handling of them (the give-back, the cancel) is not
// touched; a monitor is stopped before a device is opened.
struct DeviceMonitor;

// Watches the interfaces of one class, as ListPresentInterfaces lists them.
// nullptr when the system gives no notifications (the error is the last one).
DeviceMonitor* StartDeviceMonitor(const InterfaceClassId& interfaceClass);
void StopDeviceMonitor(DeviceMonitor* monitor);

enum class DeviceChange {
  Added,     // a device arrived, and its drivers have had their chance at it
  Removed,   // a device went away
  TimedOut,  // the deadline passed first
  Stopped,   // a stop was requested
  Failed,    // the system's notifications failed
};

using Deadline = std::chrono::steady_clock::time_point;

// Blocks until a change, the deadline (none: no limit) or a stop request;
// changes that came since the last call are reported first, one per call.
// On Added, `settled` (when given) gets the path of the device that came, as
// ListPresentInterfaces gives it, where the system tells which one it was;
// else "": any device present may be taken (Windows binds drivers before the
// interface arrives; on Linux, events were lost).
DeviceChange WaitForDeviceChange(DeviceMonitor* monitor, std::optional<Deadline> deadline,
                                 std::string* settled = nullptr);

// Whether a stop was requested while a monitor lived.
bool StopRequested();

}  // namespace korvo
