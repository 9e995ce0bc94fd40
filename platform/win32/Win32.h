#pragma once

// What the files of the Windows layer share with each other.

#include <windows.h>

#include <cstring>

#include "platform/DeviceInterfaces.h"

namespace korvo {

inline GUID ToGuid(const InterfaceClassId& id) {
  GUID guid;
  guid.Data1 = id.data1;
  guid.Data2 = id.data2;
  guid.Data3 = id.data3;
  std::memcpy(guid.Data4, id.data4, sizeof guid.Data4);
  return guid;
}

// Ctrl-C, Ctrl-Break and closing the console while a device is open
// (ConsoleControl.cpp). Armed, the handler cancels the device's pending
// request, closes the device and ends the process with STATUS_CONTROL_C_EXIT,
// as the system's own handling would, but without a byte sent or a line
// printed after the cancel. Unarmed, the system's handling applies.
void ArmConsoleControl(HANDLE device);
// Before the owner closes the device itself. Does not return once the
// handler has begun: the handler closes it and ends the process.
void DisarmConsoleControl(HANDLE device);

// Every request on the armed device runs between these two. Neither
// returns once the handler has begun, so nothing follows the cancelled
// request: the handler ends the process. Neither changes the last error,
// except that BeginDeviceRequest refuses a request once the stall watch has
// fired: false, with ERROR_TIMEOUT, and then EndDeviceRequest is not called.
bool BeginDeviceRequest();
void EndDeviceRequest();

// The stall watch: a write that makes no progress for `milliseconds` is
// cancelled as the handler cancels it, and no request starts after that.
// Started before the write (false, with the system's error, when it cannot
// be), renewed after each piece that made progress, ended after the write:
// EndStallWatch answers whether it fired.
bool StartStallWatch(HANDLE device, DWORD milliseconds);
void RenewStallWatch();
bool EndStallWatch();

// While a wait for devices runs (DeviceMonitor.cpp), Ctrl-C and Ctrl-Break
// ask it to stop instead of ending the process: StopRequested() turns true
// and the returned event is set; nullptr when that cannot be set up.
// ReleaseStopRequests gives the events back to the handlers of before.
HANDLE CatchStopRequests();
void ReleaseStopRequests();
// Asks the wait to stop, from another console handler (the one that notes
// interrupts for the runs of --all and --each, called before this one's).
void NoteStopRequest();

}  // namespace korvo
