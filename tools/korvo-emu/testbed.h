// The umockdev testbed: a private sysfs and /dev with the emulated USB devices.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device_config.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace korvo_emu {

class Testbed {
 public:
  // Creates an empty testbed and sets UMOCKDEV_DIR in this process.
  // Returns nullptr (with `error`) if umockdev cannot make its directory.
  static std::unique_ptr<Testbed> Create(std::string& error);
  ~Testbed();
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  // Adds the device and its interface to sysfs and, unless it has no node, creates
  // /dev/bus/usb/BBB/DDD. `index` is the position among all devices.
  bool AddDevice(const DeviceConfig& config, std::size_t index, std::string& error);

  // Routes the ioctls on a device node to `handler`.
  bool AttachHandler(const std::string& node, UMockdevIoctlBase* handler, std::string& error);

  // False if the program wrote into the node: umockdev lets write() through to
  // the file that holds the descriptors, where usbfs would refuse it (EINVAL).
  bool NodeUnchanged(const DeviceConfig& config) const;

  const std::string& root_dir() const { return root_dir_; }

 private:
  explicit Testbed(UMockdevTestbed* testbed);
  bool CreateNode(const DeviceConfig& config, std::string& error);

  UMockdevTestbed* testbed_;
  std::string root_dir_;
  std::vector<int> ports_per_bus_ = std::vector<int>(256, 0);
};

// "/dev/bus/usb/BBB/DDD" of a device.
std::string NodePath(const DeviceConfig& config);

}  // namespace korvo_emu
