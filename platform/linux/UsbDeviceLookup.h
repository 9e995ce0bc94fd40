#pragma once

#include <functional>
#include <string>

struct udev;
struct udev_device;

namespace korvo {

// Calls `visit` on each device in sysfs of `subsystem`, below `parent` when
// one is given, until it answers true. The device is valid during the call.
void VisitDevices(udev* context, udev_device* parent, const char* subsystem,
                  const std::function<bool(udev_device*)>& visit);

// The usb_device whose node is `usbfsNode` ("/dev/bus/usb/001/002"), or
// nullptr; the caller unrefs it.
udev_device* FindUsbDeviceByNode(udev* context, const std::string& usbfsNode);

}  // namespace korvo
