#pragma once

// The handles InitFramework opens for the rest of the Linux layer. They stay
// open until the process ends: the status monitor may still be running while
// static destructors run, so nothing here is torn down at exit.
struct libusb_context;
struct udev;

namespace korvo {

libusb_context* UsbContext();
udev* UdevContext();

}  // namespace korvo
