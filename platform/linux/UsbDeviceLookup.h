#pragma once

#include <string>

struct udev;
struct udev_device;

namespace korvo {

// The usb_device whose node is `usbfsNode` ("/dev/bus/usb/001/002"), or
// nullptr; the caller unrefs it.
udev_device* FindUsbDeviceByNode(udev* context, const std::string& usbfsNode);

}  // namespace korvo
