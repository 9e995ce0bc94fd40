#include "platform/linux/UsbDeviceLookup.h"

#include <libudev.h>

#include <cstring>

namespace korvo {

void VisitDevices(udev* context, udev_device* parent, const char* subsystem,
                  const std::function<bool(udev_device*)>& visit) {
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (!enumerate) return;
  if ((!parent || udev_enumerate_add_match_parent(enumerate, parent) >= 0) &&
      udev_enumerate_add_match_subsystem(enumerate, subsystem) >= 0 &&
      udev_enumerate_scan_devices(enumerate) >= 0) {
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
      udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (!device) continue;
      bool done = visit(device);
      udev_device_unref(device);
      if (done) break;
    }
  }
  udev_enumerate_unref(enumerate);
}

udev_device* FindUsbDeviceByNode(udev* context, const std::string& usbfsNode) {
  udev_device* found = nullptr;
  VisitDevices(context, nullptr, "usb", [&](udev_device* device) {
    const char* type = udev_device_get_devtype(device);
    const char* node = udev_device_get_devnode(device);
    if (!type || std::strcmp(type, "usb_device") != 0 || !node || usbfsNode != node) return false;
    found = udev_device_ref(device);
    return true;
  });
  return found;
}

}  // namespace korvo
