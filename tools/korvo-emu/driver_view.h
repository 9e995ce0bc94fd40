// What sysfs and /dev show of the driver bound to one emulated interface: the
// interface's `driver` link, and usblp's lp node while usblp is bound.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "device_config.h"
#include "lp_node.h"

namespace korvo_emu {

class Testbed;

class DriverView {
 public:
  // `lp_minor` numbers the lp node, for a device configured with usblp.
  DriverView(Testbed& testbed, const DeviceConfig& config, std::string interface_path,
             int lp_minor);

  // The state before the command starts: the configured driver bound.
  bool Create(std::string& error);

  // The interface's driver is now `driver` (usbfs, none, or the kernel driver
  // again, or for the first time for a device plugged in during the run).
  void Changed(const std::optional<std::string>& driver);

 private:
  bool Show(const std::optional<std::string>& driver, std::string& error);

  Testbed& testbed_;
  const DeviceConfig& config_;
  std::string interface_path_;
  std::unique_ptr<LpNode> lp_node_;  // for usblp only
  bool usblp_bound_ = false;
  bool lp_busy_;  // another program has the first usblp's node open; the next ones start unused
};

}  // namespace korvo_emu
