// USB device discovery through libudev.
//
// Every attached device of subsystem "usb" with devtype "usb_device" (root
// hubs are not attached devices) is one interface, in the order of the sysfs
// paths, named by its node and IDs (DevicePath.h).
#include "platform/DeviceInterfaces.h"

#include <libudev.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/DeviceName.h"
#include "platform/linux/DevicePath.h"
#include "platform/linux/LinuxContext.h"

namespace korvo {

namespace {

// A sysfs number attribute of 16 bits: hex for IDs such as idVendor,
// decimal for busnum and devnum.
std::optional<unsigned> ReadNumber(udev_device* device, const char* attribute, int base) {
  const char* text = udev_device_get_sysattr_value(device, attribute);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, base);
  if (*end != '\0' || value > 0xFFFF) return std::nullopt;
  return static_cast<unsigned>(value);
}

std::optional<std::string> ReadText(udev_device* device, const char* attribute) {
  const char* text = udev_device_get_sysattr_value(device, attribute);
  if (!text) return std::nullopt;
  return std::string(text);
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
  const char* devtype = udev_device_get_devtype(device);
  if (!devtype || std::strcmp(devtype, "usb_device") != 0) return std::nullopt;
  if (IsRootHub(device)) return std::nullopt;

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
  found.record.facts.serial = ReadText(device, "serial");
  return found;
}

// The devices are read once, when the set is opened, so that the indexes
// name the same devices for as long as the set is used.
class UdevUsbDevices : public DeviceInterfaceSet {
 public:
  explicit UdevUsbDevices(std::vector<InterfaceRecord> records) : records_(std::move(records)) {}

  InterfaceRead ReadInterface(unsigned index, InterfaceRecord& record) override {
    if (index >= records_.size()) return InterfaceRead::NoMore;
    record = records_[index];
    return InterfaceRead::Read;
  }

 private:
  std::vector<InterfaceRecord> records_;
};

std::unique_ptr<DeviceInterfaceSet> ListUsbDevices(udev* context) {
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (!enumerate) return nullptr;
  if (udev_enumerate_add_match_subsystem(enumerate, "usb") < 0 ||
      udev_enumerate_scan_devices(enumerate) < 0) {
    udev_enumerate_unref(enumerate);
    return nullptr;
  }

  std::vector<FoundDevice> found;
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (!device) continue;
    if (std::optional<FoundDevice> one = Describe(device)) found.push_back(std::move(*one));
    udev_device_unref(device);
  }
  udev_enumerate_unref(enumerate);

  std::sort(found.begin(), found.end(),
            [](const FoundDevice& a, const FoundDevice& b) { return a.syspath < b.syspath; });
  std::vector<InterfaceRecord> records;
  for (FoundDevice& one : found) records.push_back(std::move(one.record));
  return std::make_unique<UdevUsbDevices>(std::move(records));
}

}  // namespace

bool DiscoveryKnowsBusAddress() { return true; }

std::unique_ptr<DeviceInterfaceSet> OpenPresentInterfaces(const InterfaceClassId& interfaceClass) {
  // Linux has one way to list USB devices; only the USB device class is known.
  (void)interfaceClass;
  udev* context = UdevContext();
  if (!context) return nullptr;
  return ListUsbDevices(context);
}

}  // namespace korvo
