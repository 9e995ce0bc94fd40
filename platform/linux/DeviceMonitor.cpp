// Plugs and unplugs as udev reports them. udevd passes each kernel uevent on
// once its rules have run (the device is initialised); the kernel sends a
// USB device's "bind" once every interface of it has been offered to the
// drivers, so a device is reported as added only then: usblp has had its
// chance at a printer, and a run does not take the interface before it.
#include "platform/DeviceMonitor.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/linux/Linux.h"

namespace korvo {

struct DeviceMonitor {
  udev_monitor* monitor;
  int stopFd;
};

namespace {

bool Is(const char* action, const char* name) { return action && std::strcmp(action, name) == 0; }

// The path discovery gives the device of an event; "" when it has none.
std::string PathOf(udev_device* device) {
  const char* node = udev_device_get_devnode(device);
  const char* vendor = udev_device_get_sysattr_value(device, "idVendor");
  const char* product = udev_device_get_sysattr_value(device, "idProduct");
  if (!node || !vendor || !product) return "";
  return FormatDevicePath({node, static_cast<uint16_t>(std::strtoul(vendor, nullptr, 16)),
                           static_cast<uint16_t>(std::strtoul(product, nullptr, 16))});
}

// The next change among the events that have come, if any.
std::optional<DeviceChange> TakeChange(udev_monitor* monitor, std::string* settled) {
  while (udev_device* device = udev_monitor_receive_device(monitor)) {
    const char* action = udev_device_get_action(device);
    std::optional<DeviceChange> change;
    if (Is(action, "remove")) {
      change = DeviceChange::Removed;
    } else if (Is(action, "bind") && udev_device_get_is_initialized(device) > 0) {
      change = DeviceChange::Added;
      if (settled) *settled = PathOf(device);
    }
    udev_device_unref(device);
    if (change) return change;
  }
  // The socket overflowed and events were lost: whatever they were, the
  // caller must look again.
  if (errno == ENOBUFS) {
    if (settled) settled->clear();
    return DeviceChange::Added;
  }
  return std::nullopt;
}

}  // namespace

DeviceMonitor* StartDeviceMonitor(const InterfaceClassId& interfaceClass) {
  (void)interfaceClass;  // USB devices are all there is to watch, as in discovery
  // Caught first: once the monitor listens, a signal is a stop request.
  int stopFd = CatchStopRequests();
  if (stopFd < 0) return nullptr;
  udev* context = UdevContext();
  udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  if (monitor && udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") >= 0 &&
      udev_monitor_enable_receiving(monitor) >= 0) {
    return new DeviceMonitor{monitor, stopFd};
  }
  int error = errno;
  if (monitor) udev_monitor_unref(monitor);
  ReleaseStopRequests();
  errno = error;
  return nullptr;
}

void StopDeviceMonitor(DeviceMonitor* monitor) {
  ReleaseStopRequests();
  udev_monitor_unref(monitor->monitor);
  delete monitor;
}

DeviceChange WaitForDeviceChange(DeviceMonitor* monitor, std::optional<Deadline> deadline,
                                 std::string* settled) {
  pollfd fds[2] = {{udev_monitor_get_fd(monitor->monitor), POLLIN, 0}, {monitor->stopFd, POLLIN, 0}};
  for (;;) {
    if (StopRequested()) return DeviceChange::Stopped;
    if (std::optional<DeviceChange> change = TakeChange(monitor->monitor, settled)) return *change;
    int timeout = -1;
    if (deadline) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return DeviceChange::TimedOut;
      timeout = left.count() < INT_MAX ? static_cast<int>(left.count()) : INT_MAX;
    }
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) return DeviceChange::Failed;
  }
}

}  // namespace korvo
