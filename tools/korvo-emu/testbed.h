// The umockdev testbed: a private sysfs and /dev with the emulated USB devices.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "descriptors.h"
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
  // `device_path` and `interface_path` receive their sysfs paths. Safe while
  // the command runs, from one thread at a time.
  bool AddDevice(const DeviceConfig& config, std::size_t index, std::string& device_path,
                 std::string& interface_path, std::string& error);

  // Removes what AddDevice added: the interface, the device and its node.
  void RemoveDevice(const DeviceConfig& config, const std::string& device_path,
                    const std::string& interface_path);

  // usblp's character device: the usbmisc device lpN below the interface and the
  // node /dev/usb/lpN, as usblp registers them when it binds and drops them
  // when it is unbound. Safe from umockdev's thread while the command runs.
  bool AddLpNode(const std::string& interface_path, int minor, std::string& error);
  void RemoveLpNode(const std::string& interface_path, int minor);

  // The interface's sysfs `driver` link to /sys/bus/usb/drivers/NAME, or none.
  // Safe from umockdev's thread too.
  void SetDriverLink(const std::string& interface_path, const std::optional<std::string>& driver);

  // Routes the ioctls on a device node to `handler`.
  bool AttachHandler(const std::string& node, UMockdevIoctlBase* handler, std::string& error);

  // False if the program wrote into the node: umockdev lets write() through to
  // the file that holds the descriptors, where usbfs would refuse it (EINVAL).
  // True for a node that is not there (the device unplugged, or never plugged in).
  bool NodeUnchanged(const DeviceConfig& config) const;

  const std::string& root_dir() const { return root_dir_; }

 private:
  explicit Testbed(UMockdevTestbed* testbed);
  bool CreateNode(const DeviceConfig& config, std::string& error);
  bool CreateFile(const std::string& node, const Bytes& contents, std::string& error);

  UMockdevTestbed* testbed_;
  std::string root_dir_;
  std::vector<int> ports_per_bus_ = std::vector<int>(256, 0);
  std::mutex mutex_;  // lp nodes and driver links change on umockdev's thread, plugs on korvo-emu's
};

// "/dev/bus/usb/BBB/DDD" of a device.
std::string NodePath(const DeviceConfig& config);

// "/dev/usb/lpN".
std::string LpNodePath(int minor);

}  // namespace korvo_emu
