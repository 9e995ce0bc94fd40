// Opening and closing a device by its path: the usbfs node before '#', the
// vendor and product IDs after it. The open claims the device's printer
// interface (or the first one it can write to), which makes it exclusive: a
// second claim on the same interface fails with EBUSY.
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>

#include "platform/Device.h"
#include "platform/linux/LinuxContext.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/UsbErrorNumber.h"

namespace korvo {

namespace {

constexpr uint8_t kPrinterClass = 7;

struct UsbIds {
  unsigned vendor;
  unsigned product;
};

struct Target {
  std::string node;
  UsbIds ids;
};

// "/dev/bus/usb/001/002#vid_6742&pid_0001", as discovery builds it.
std::optional<Target> ParsePath(const std::string& path) {
  size_t hash = path.find('#');
  if (hash == std::string::npos) return std::nullopt;
  UsbIds ids;
  int end = 0;
  if (std::sscanf(path.c_str() + hash, "#vid_%4x&pid_%4x%n", &ids.vendor, &ids.product, &end) != 2 ||
      path.size() != hash + static_cast<size_t>(end)) {
    return std::nullopt;
  }
  return Target{path.substr(0, hash), ids};
}

struct Choice {
  uint8_t interfaceNumber;
  uint8_t alternateSetting;
  uint8_t bulkOut;
};

std::optional<uint8_t> BulkOutOf(const libusb_interface_descriptor& setting) {
  for (int e = 0; e < setting.bNumEndpoints; ++e) {
    const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
    if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK &&
        (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_OUT) {
      return endpoint.bEndpointAddress;
    }
  }
  return std::nullopt;
}

// The first printer-class setting with a bulk OUT endpoint, else the first
// setting of any class with one.
std::optional<Choice> ChooseInterface(const libusb_config_descriptor& config) {
  std::optional<Choice> any;
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface& interface = config.interface[i];
    for (int a = 0; a < interface.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = interface.altsetting[a];
      std::optional<uint8_t> bulkOut = BulkOutOf(setting);
      if (!bulkOut) continue;
      Choice choice{setting.bInterfaceNumber, setting.bAlternateSetting, *bulkOut};
      if (setting.bInterfaceClass == kPrinterClass) return choice;
      if (!any) any = choice;
    }
  }
  return any;
}

// libusb's error as errno, and false.
bool Fail(int usbError) {
  errno = ErrnoFromUsbError(usbError);
  return false;
}

bool MatchesIds(libusb_device_handle* handle, const UsbIds& ids) {
  libusb_device_descriptor descriptor;
  int r = libusb_get_device_descriptor(libusb_get_device(handle), &descriptor);
  if (r != LIBUSB_SUCCESS) return Fail(r);
  // The node number may have gone to another device since discovery.
  if (descriptor.idVendor != ids.vendor || descriptor.idProduct != ids.product) {
    errno = ENODEV;
    return false;
  }
  return true;
}

bool FindInterface(libusb_device_handle* handle, Choice* choice) {
  libusb_config_descriptor* config = nullptr;
  int r = libusb_get_active_config_descriptor(libusb_get_device(handle), &config);
  if (r != LIBUSB_SUCCESS) return Fail(r);
  std::optional<Choice> found = ChooseInterface(*config);
  libusb_free_config_descriptor(config);
  if (!found) {
    errno = ENOENT;  // nothing on this device takes raw data
    return false;
  }
  *choice = *found;
  return true;
}

// Claims the interface, letting libusb move a kernel driver (usblp) aside
// for the claim and bring it back at the release.
bool Claim(libusb_device_handle* handle, const Choice& choice) {
  libusb_set_auto_detach_kernel_driver(handle, 1);  // not supported: nothing to detach
  int r = libusb_claim_interface(handle, choice.interfaceNumber);
  if (r != LIBUSB_SUCCESS) return Fail(r);
  if (choice.alternateSetting == 0) return true;
  r = libusb_set_interface_alt_setting(handle, choice.interfaceNumber, choice.alternateSetting);
  if (r == LIBUSB_SUCCESS) return true;
  libusb_release_interface(handle, choice.interfaceNumber);
  return Fail(r);
}

Device* OpenNode(const Target& target) {
  int fd = open(target.node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;

  libusb_device_handle* handle = nullptr;
  int r = libusb_wrap_sys_device(UsbContext(), fd, &handle);
  if (r != LIBUSB_SUCCESS) {
    close(fd);
    errno = ErrnoFromUsbError(r);
    return nullptr;
  }

  Choice choice{};
  if (MatchesIds(handle, target.ids) && FindInterface(handle, &choice) && Claim(handle, choice)) {
    Device* device = new (std::nothrow) Device{fd, handle, choice.interfaceNumber, choice.bulkOut};
    if (device) return device;
    libusb_release_interface(handle, choice.interfaceNumber);
    errno = ENOMEM;
  }

  int error = errno;
  libusb_close(handle);
  close(fd);
  errno = error;
  return nullptr;
}

}  // namespace

Device* OpenDevice(const std::string& path) {
  std::optional<Target> target = ParsePath(path);
  if (!target) {
    errno = ENOENT;
    return nullptr;
  }
  if (!UsbContext()) {
    errno = ENODEV;
    return nullptr;
  }
  return OpenNode(*target);
}

void CloseDevice(Device* device) {
  libusb_release_interface(device->handle, device->interfaceNumber);
  libusb_close(device->handle);
  close(device->fd);
  delete device;
}

}  // namespace korvo
