#pragma once

// What the files of the Windows layer share with each other.

#include <windows.h>

namespace korvo {

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
// request: the handler ends the process. Neither changes the last error.
void BeginDeviceRequest();
void EndDeviceRequest();

}  // namespace korvo
