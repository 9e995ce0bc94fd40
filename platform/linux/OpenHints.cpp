// Why a device could not be opened, in the operator's terms: the node,
// the system's reason, and for a busy device which driver holds it.
#include "platform/OpenHints.h"

#include <libudev.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/ErrorNumber.h"
#include "platform/linux/DevicePath.h"
#include "platform/linux/KernelDriver.h"
#include "platform/linux/LinuxContext.h"
#include "platform/linux/UsbDeviceLookup.h"

namespace korvo {

namespace {

// The udev rule that the install puts in place, and the command that makes
// a running udev apply it to devices already plugged in.
constexpr const char* kRuleHint =
    "the udev rule 70-korvo-test.rules gives operators access to KORVO devices; "
    "install it, then run: udevadm control --reload && udevadm trigger";

// The usbfs node of the path, or the path itself if it names none.
std::string NodeOf(const std::string& path) {
  std::optional<UsbDevicePath> parsed = ParseDevicePath(path);
  return parsed ? parsed->node : path;
}

// The kernel driver bound to one of the device's interfaces, if any. A
// program that claimed an interface through usbfs shows as driver "usbfs".
std::optional<std::string> InterfaceDriver(const std::string& node) {
  udev* context = UdevContext();
  udev_device* device = context ? FindUsbDeviceByNode(context, node) : nullptr;
  if (!device) return std::nullopt;
  std::optional<std::string> driver;
  // Interfaces are the device's children: "1-1:1.0" below "1-1".
  VisitDevices(context, device, "usb", [&](udev_device* interface) {
    const char* type = udev_device_get_devtype(interface);
    const char* name = udev_device_get_driver(interface);
    if (type && std::strcmp(type, "usb_interface") == 0 && name && *name) driver = name;
    return driver.has_value();
  });
  udev_device_unref(device);
  return driver;
}

std::string BusyHint(const std::string& node) {
  std::optional<std::string> driver = InterfaceDriver(node);
  if (!driver) return "another program or a kernel driver holds the device";
  if (*driver == "usbfs") return "another program holds the device (claimed through usbfs)";
  // usblp is moved aside only while nobody prints through its node.
  if (*driver == kUsblpDriver) return "another program is printing through the printer's node /dev/usb/lp*";
  return "the kernel driver '" + *driver + "' holds the device";
}

}  // namespace

std::vector<std::string> DeviceOpenHints(const std::string& path, int error) {
  const std::string node = NodeOf(path);
  std::vector<std::string> hints = {node + ": " + ErrorText(error)};
  switch (error) {
    case EACCES:
    case EPERM:
      hints.push_back(kRuleHint);
      break;
    case EBUSY:
      hints.push_back(BusyHint(node));
      break;
    case ENODEV:
    case ENOENT:
      hints.push_back("the device is gone since it was listed: check its cable and power");
      break;
    default:
      break;
  }
  return hints;
}

}  // namespace korvo
