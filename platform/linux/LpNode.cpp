// usblp registers each printer interface it drives as a usbmisc device below
// the interface in sysfs: .../1-1/1-1:1.0/usbmisc/lp0, node /dev/usb/lp0.
#include "platform/linux/LpNode.h"

#include <fcntl.h>
#include <libudev.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/linux/LinuxContext.h"
#include "platform/linux/UsbDeviceLookup.h"

namespace korvo {

namespace {

bool IsInterface(udev_device* interface, uint8_t interfaceNumber) {
  const char* number = interface ? udev_device_get_sysattr_value(interface, "bInterfaceNumber") : nullptr;
  if (!number || !*number) return false;
  char* end = nullptr;
  unsigned long value = std::strtoul(number, &end, 16);
  return *end == '\0' && value == interfaceNumber;
}

// The lp node below the interface, if usblp has made one.
std::optional<std::string> FindLpNode(udev* context, udev_device* usbDevice, uint8_t interfaceNumber) {
  std::optional<std::string> found;
  VisitDevices(context, usbDevice, "usbmisc", [&](udev_device* misc) {
    const char* name = udev_device_get_sysname(misc);
    const char* node = udev_device_get_devnode(misc);
    // The parent is owned by `misc`.
    if (name && std::strncmp(name, "lp", 2) == 0 && node &&
        IsInterface(udev_device_get_parent(misc), interfaceNumber)) {
      found = node;
    }
    return found.has_value();
  });
  return found;
}

}  // namespace

int OpenLpNode(const std::string& usbfsNode, uint8_t interfaceNumber) {
  udev* context = UdevContext();
  udev_device* usbDevice = context ? FindUsbDeviceByNode(context, usbfsNode) : nullptr;
  std::optional<std::string> lpNode;
  if (usbDevice) {
    lpNode = FindLpNode(context, usbDevice, interfaceNumber);
    udev_device_unref(usbDevice);
  }
  if (!lpNode) {
    errno = ENOENT;
    return -1;
  }
  return open(lpNode->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

}  // namespace korvo
