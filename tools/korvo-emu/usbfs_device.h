// The device side of one emulated device: answers the usbdevfs ioctls that
// libusb sends on its /dev/bus/usb node, the way Linux and the device would.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device_config.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace korvo_emu {

struct DeviceCore;

class UsbfsDevice {
 public:
  UsbfsDevice(const DeviceConfig& config, std::optional<std::string> capture_path);
  ~UsbfsDevice();  // only after the testbed is gone: no request may arrive any more
  UsbfsDevice(const UsbfsDevice&) = delete;
  UsbfsDevice& operator=(const UsbfsDevice&) = delete;

  // The handler to attach to the device node.
  UMockdevIoctlBase* handler() const { return handler_; }

  // Creates the FIFO that tells the command's poll() when the node is ready
  // (usbfs_ready.h); before any program runs.
  bool ShowReadinessIn(const std::string& fifo_path, std::string& error);

  // The --report line, if anything was written to the device.
  std::optional<std::string> Summary() const;

  // The --report line "BBB/DDD driver NAME" (or "none" when unbound), for a
  // device that was given a kernel driver.
  std::optional<std::string> DriverSummary() const;

  // The command has ended, and the kernel closed every file it had open: ends
  // their claims and URBs now. umockdev's thread notices a closed file only some
  // turns of its loop later, perhaps after the testbed has stopped it.
  void CommandEnded();

  // `changed` runs on umockdev's thread with the interface's driver (or none)
  // whenever a request or a closed file changes it; set before any program runs.
  using DriverChange = std::function<void(const std::optional<std::string>&)>;
  void OnDriverChange(DriverChange changed);

  // `vanished` runs on umockdev's thread, with the device's lock held, once a
  // transfer reached vanish-after's count.
  void OnVanish(std::function<void()> vanished);

  // A device plugged in during the run has had its interface offered to the
  // drivers: the configured kernel driver binds, unless a program claimed
  // the interface first (usbfs keeps it then, as in the kernel). Returns the
  // kernel driver bound, if any.
  std::optional<std::string> BindDriver();

  // Unplugged: every request fails with ENODEV from now on, transfers in
  // flight end with it, and the driver lets go. Returns the driver that was
  // bound, if any.
  std::optional<std::string> Unplug();

 private:
  std::shared_ptr<DeviceCore> core_;
  UMockdevIoctlBase* handler_;
};

}  // namespace korvo_emu
