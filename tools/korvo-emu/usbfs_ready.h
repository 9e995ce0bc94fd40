// Where korvo-emu shows whether a usbfs node would poll ready: a FIFO per
// device node, holding one byte while it is. The node itself is a plain file in
// the testbed, which poll() always finds ready.
#pragma once

namespace korvo_emu {

// The FIFO of node ROOT/dev/bus/usb/BBB/DDD is ROOT/usbfs-ready/bus/usb/BBB/DDD.
inline constexpr char kNodeDir[] = "/dev/";
inline constexpr char kReadyDir[] = "/usbfs-ready/";

}  // namespace korvo_emu
