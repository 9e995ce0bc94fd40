// Opening and closing a device by its path (DevicePath.h). The open claims
// the device's printer interface (or the first one it can write to), which
// makes it exclusive: a second claim on the same interface fails with EBUSY.
//
// The interface is never taken from a kernel driver that serves someone
// else (usb-storage, a network or Bluetooth driver...): the open fails with
// EBUSY and the device sees no request at all. The one exception is usblp,
// the printer driver, and only while the tool holds its lp node, which usblp
// lets one program open at a time: a printer in use stays with its user.
// usblp is bound again when the device is closed, and on the other exits
// ClaimGuard.h watches.
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <string>

#include "platform/Device.h"
#include "platform/linux/ClaimGuard.h"
#include "platform/linux/DevicePath.h"
#include "platform/linux/KernelDriver.h"
#include "platform/linux/LinuxContext.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/LpNode.h"
#include "platform/linux/UsbErrorNumber.h"

namespace korvo {

namespace {

constexpr uint8_t kPrinterClass = 7;

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

bool MatchesIds(libusb_device_handle* handle, const UsbDevicePath& ids) {
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

// Takes the interface from the kernel: free, it is claimed; bound to usblp,
// usblp is moved aside while the tool holds its lp node (*lpFd); bound to any
// other driver, or claimed by another program, it is left alone (EBUSY).
bool TakeInterface(int fd, const std::string& node, uint8_t interfaceNumber, int* lpFd) {
  std::string driver;
  if (!BoundDriver(fd, interfaceNumber, &driver)) return false;
  if (driver.empty()) return true;
  if (driver != kUsblpDriver) {
    errno = EBUSY;
    return false;
  }
  *lpFd = OpenLpNode(node, interfaceNumber);
  if (*lpFd < 0) return false;
  if (DetachUsblpAndClaim(fd, interfaceNumber)) return true;
  int error = errno;
  close(*lpFd);
  *lpFd = -1;
  errno = error;
  return false;
}

// Gives the claimed interface back, and usblp with it if it was moved aside.
void GiveBack(const Device& device) {
  SignalHold hold;
  UnguardClaim(device.fd, device.interfaceNumber);
  libusb_release_interface(device.handle, device.interfaceNumber);
  if (device.lpFd >= 0) {
    ReattachDriver(device.fd, device.interfaceNumber);
    close(device.lpFd);
  }
}

// Claims the chosen interface and selects its setting. On failure nothing
// stays claimed and usblp, if it was moved aside, is bound again.
bool Claim(Device& device, const std::string& node, const Choice& choice) {
  if (!TakeInterface(device.fd, node, choice.interfaceNumber, &device.lpFd)) return false;
  // With usblp moved aside the claim is already made; this tells libusb.
  int r = libusb_claim_interface(device.handle, choice.interfaceNumber);
  if (r != LIBUSB_SUCCESS) {
    ReleaseInterface(device.fd, choice.interfaceNumber, device.lpFd >= 0);
    if (device.lpFd >= 0) close(device.lpFd);
    return Fail(r);
  }
  GuardClaim(device.fd, choice.interfaceNumber, device.lpFd >= 0);
  if (choice.alternateSetting == 0) return true;
  r = libusb_set_interface_alt_setting(device.handle, choice.interfaceNumber, choice.alternateSetting);
  if (r == LIBUSB_SUCCESS) return true;
  GiveBack(device);
  return Fail(r);
}

Device* OpenNode(const UsbDevicePath& target) {
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
  if (MatchesIds(handle, target) && FindInterface(handle, &choice)) {
    Device opened{fd, handle, choice.interfaceNumber, choice.bulkOut, -1};
    if (Claim(opened, target.node, choice)) {
      Device* device = new (std::nothrow) Device(opened);
      if (device) return device;
      GiveBack(opened);
      errno = ENOMEM;
    }
  }

  int error = errno;
  libusb_close(handle);
  close(fd);
  errno = error;
  return nullptr;
}

}  // namespace

Device* OpenDevice(const std::string& path) {
  std::optional<UsbDevicePath> target = ParseDevicePath(path);
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
  GiveBack(*device);
  libusb_close(device->handle);
  close(device->fd);
  delete device;
}

}  // namespace korvo
