#pragma once

// What the files of the Linux layer share with each other.

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct libusb_context;
struct udev;

namespace korvo {

// The handles InitFramework opens (Framework.cpp). They stay open until the
// process ends: the status monitor may still be running while static
// destructors run, so nothing here is torn down at exit.
libusb_context* UsbContext();
udev* UdevContext();

// A USB device as the Linux layer names it (DevicePath.cpp): its usbfs
// node with the IDs appended, "/dev/bus/usb/001/002#vid_6742&pid_0001". The
// vendor can be read from the path as on Windows, and the open can check that
// the node still belongs to the device that discovery saw.
struct UsbDevicePath {
  std::string node;
  uint16_t vendor = 0;
  uint16_t product = 0;
};

std::string FormatDevicePath(const UsbDevicePath& path);

// Exactly what FormatDevicePath writes (lowercase hex, nothing after the
// product ID); anything else is nullopt.
std::optional<UsbDevicePath> ParseDevicePath(std::string_view text);

// A device's name from two sysfs or udev strings, such as manufacturer and
// product: "first second", or second alone without a first; absent without
// a second. Either may be null (the attribute is missing).
std::optional<std::string> JoinName(const char* first, const char* second);

// The node usblp made for one interface of the device at `usbfsNode`
// (/dev/usb/lpN), if it made one.
std::optional<std::string> FindLpNode(const std::string& usbfsNode, uint8_t interfaceNumber);

// Undoing on the way out (Signals.cpp). An armed action runs once, when a
// signal whose default action ends the process does so (the signal is then
// raised again, so the caller sees it), or at exit; in a signal handler, so
// plain system calls only. Only the main thread takes these signals
// (Thread.cpp): an action never runs beside its owner on another thread.
using ExitAction = void (*)(void* argument);
// A handle for DisarmExitAction; -1 when all four places are taken.
int ArmExitAction(ExitAction action, void* argument);
// The owner undoes the thing itself now, within a SignalHold.
void DisarmExitAction(int handle);

// While a wait for devices runs (DeviceMonitor.cpp), SIGINT and SIGTERM ask
// it to stop instead of ending the process: StopRequested() turns true and
// the returned descriptor readable; -1 when that cannot be set up. Signals
// ignored or caught by someone else stay as they are. ReleaseStopRequests
// puts the actions of before back.
int CatchStopRequests();
void ReleaseStopRequests();
// Asks the wait to stop, from a signal handler of someone else's (the one
// that passes interrupts on to the runs of --all and --each).
void NoteStopRequest();

// Holds those signals off on this thread while it lives (all but the ones
// the process raises itself: abort(), faults); one that came meanwhile is
// taken when the hold ends.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace korvo
