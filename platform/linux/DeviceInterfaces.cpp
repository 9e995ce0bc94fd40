// What udev and sysfs tell about USB devices: discovery and the lookups
// the open makes by node.
//
// Every attached device of subsystem "usb" with devtype "usb_device" (root
// hubs are not attached devices) is one interface, in the order of the sysfs
// paths, named by its node and IDs (UsbDevicePath).
#include "platform/DeviceInterfaces.h"

#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/linux/Linux.h"

namespace korvo {

namespace {

// Calls `visit` on each device in sysfs of `subsystem`, below `parent` when
// one is given, until it answers true. The device is valid during the call.
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

bool IsUsbDevice(udev_device* device) {
  const char* devtype = udev_device_get_devtype(device);
  return devtype && std::strcmp(devtype, "usb_device") == 0;
}

// A sysfs number attribute of 16 bits: hex for IDs such as idVendor and
// bInterfaceNumber, decimal for busnum and devnum.
std::optional<unsigned> ReadNumber(udev_device* device, const char* attribute, int base) {
  const char* text = udev_device_get_sysattr_value(device, attribute);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, base);
  if (*end != '\0' || value > 0xFFFF) return std::nullopt;
  return static_cast<unsigned>(value);
}

struct FoundDevice {
  std::string syspath;
  InterfaceRecord record;
};

// The kernel names each bus's root hub "usbN" and every attached device
// "B-P": only the attached ones are devices to test.
bool IsRootHub(udev_device* device) {
  const char* name = udev_device_get_sysname(device);
  return name && std::strncmp(name, "usb", 3) == 0;
}

std::optional<FoundDevice> Describe(udev_device* device) {
  if (!IsUsbDevice(device) || IsRootHub(device)) return std::nullopt;

  // Without a node there is nothing to open.
  const char* devnode = udev_device_get_devnode(device);
  if (!devnode) return std::nullopt;

  std::optional<unsigned> vendor = ReadNumber(device, "idVendor", 16);
  std::optional<unsigned> product = ReadNumber(device, "idProduct", 16);
  if (!vendor || !product) return std::nullopt;

  FoundDevice found;
  found.syspath = udev_device_get_syspath(device);
  found.record.devicePath = FormatDevicePath(
      {devnode, static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)});
  found.record.friendlyName = JoinName(udev_device_get_sysattr_value(device, "manufacturer"),
                                       udev_device_get_sysattr_value(device, "product"));
  found.record.deviceDescription =
      JoinName(udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"),
               udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE"));
  found.record.facts.bus = ReadNumber(device, "busnum", 10);
  found.record.facts.address = ReadNumber(device, "devnum", 10);
  found.record.facts.vendorId = vendor;
  found.record.facts.productId = product;
  if (const char* serial = udev_device_get_sysattr_value(device, "serial")) {
    found.record.facts.serial = serial;
  }
  return found;
}

std::vector<InterfaceRecord> ListUsbDevices(udev* context) {
  std::vector<FoundDevice> found;
  VisitDevices(context, nullptr, "usb", [&](udev_device* device) {
    if (std::optional<FoundDevice> one = Describe(device)) found.push_back(std::move(*one));
    return false;
  });

  std::sort(found.begin(), found.end(),
            [](const FoundDevice& a, const FoundDevice& b) { return a.syspath < b.syspath; });
  std::vector<InterfaceRecord> records;
  for (FoundDevice& one : found) records.push_back(std::move(one.record));
  return records;
}

// The usb_device whose node is `usbfsNode` ("/dev/bus/usb/001/002"), or
// nullptr; the caller unrefs it.
udev_device* FindUsbDeviceByNode(udev* context, const std::string& usbfsNode) {
  udev_device* found = nullptr;
  VisitDevices(context, nullptr, "usb", [&](udev_device* device) {
    const char* node = udev_device_get_devnode(device);
    if (!IsUsbDevice(device) || !node || usbfsNode != node) return false;
    found = udev_device_ref(device);
    return true;
  });
  return found;
}

}  // namespace

// usblp registers each printer interface it drives as a usbmisc device below
// the interface in sysfs: .../1-1/1-1:1.0/usbmisc/lp0, node /dev/usb/lp0.
std::optional<std::string> FindLpNode(const std::string& usbfsNode, uint8_t interfaceNumber) {
  udev* context = UdevContext();
  udev_device* usbDevice = context ? FindUsbDeviceByNode(context, usbfsNode) : nullptr;
  if (!usbDevice) return std::nullopt;
  std::optional<std::string> found;
  VisitDevices(context, usbDevice, "usbmisc", [&](udev_device* misc) {
    const char* name = udev_device_get_sysname(misc);
    const char* node = udev_device_get_devnode(misc);
    // The parent is owned by `misc`.
    udev_device* interface = udev_device_get_parent(misc);
    if (name && std::strncmp(name, "lp", 2) == 0 && node && interface &&
        ReadNumber(interface, "bInterfaceNumber", 16) == interfaceNumber) {
      found = node;
    }
    return found.has_value();
  });
  udev_device_unref(usbDevice);
  return found;
}

bool DiscoveryKnowsBusAddress() { return true; }

std::optional<std::vector<InterfaceRecord>> ListPresentInterfaces(const InterfaceClassId& interfaceClass) {
  // Linux has one way to list USB devices; only the USB device class is known.
  (void)interfaceClass;
  udev* context = UdevContext();
  if (!context) return std::nullopt;
  return ListUsbDevices(context);
}

}  // namespace korvo
