#pragma once

namespace korvo {

// The errno value that says what a libusb error code says, so that the
// device channel reports Linux error numbers like every other call.
int ErrnoFromUsbError(int usbError);

}  // namespace korvo
