#include "platform/linux/UsbDeviceLookup.h"

#include <libudev.h>

namespace korvo {

udev_device* FindUsbDeviceByNode(udev* context, const std::string& usbfsNode) {
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (!enumerate) return nullptr;
  udev_device* found = nullptr;
  if (udev_enumerate_add_match_subsystem(enumerate, "usb") >= 0 &&
      udev_enumerate_add_match_property(enumerate, "DEVTYPE", "usb_device") >= 0 &&
      udev_enumerate_scan_devices(enumerate) >= 0) {
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
      udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (!device) continue;
      const char* node = udev_device_get_devnode(device);
      if (node && usbfsNode == node) {
        found = device;
        break;
      }
      udev_device_unref(device);
    }
  }
  udev_enumerate_unref(enumerate);
  return found;
}

}  // namespace korvo
