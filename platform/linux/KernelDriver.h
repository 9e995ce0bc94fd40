#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// The kernel driver bound to one interface of an open usbfs node, through
// usbfs requests on that node. All but BoundDriver are plain system calls,
// safe in a signal handler.

// The printer driver: the only one the tool ever moves aside.
inline constexpr char kUsblpDriver[] = "usblp";

// True with the driver's name in *name ("" when none is bound; "usbfs" when
// a program has claimed the interface), false with errno set.
bool BoundDriver(int usbfsFd, uint8_t interfaceNumber, std::string* name);

// Moves usblp aside and claims the interface for this file in one step; fails
// with errno set (EBUSY when another driver took its place) and changes
// nothing when usblp is not the driver bound.
bool DetachUsblpAndClaim(int usbfsFd, uint8_t interfaceNumber);

// Lets the kernel bind its driver to the interface again, once this file has
// released it. Nothing is left to do when that fails, so nothing is said.
void ReattachDriver(int usbfsFd, uint8_t interfaceNumber);

// Releases this file's claim on the interface, which also ends its transfers
// in flight, and, with `reattach`, gives the kernel's driver back.
void ReleaseInterface(int usbfsFd, uint8_t interfaceNumber, bool reattach);

}  // namespace korvo
