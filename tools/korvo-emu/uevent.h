// uevents for the command's libudev monitors, as udevd passes them on.
#pragma once

#include <string>

namespace korvo_emu {

// `action` ("add", "bind", "remove"...) for the device at `syspath`
// (/sys/devices/...) in the testbed at `root_dir`, with the properties of
// its uevent file as they are when the uevent is made, and `driver` as the
// DRIVER property the kernel adds while a driver is bound.
class Uevent {
 public:
  Uevent(const std::string& root_dir, const std::string& syspath, const char* subsystem,
         const char* action, const std::string& driver = "");

  // To every libudev monitor in the testbed. umockdev's preload makes a
  // monitor's netlink socket a datagram socket ROOT/eventN and takes what
  // comes there for udevd's messages. A monitor that does not read for a
  // second loses the uevent, as a full netlink socket would; korvo-emu says so.
  void Send() const;

 private:
  std::string root_dir_;
  std::string name_;  // "ACTION SYSPATH", for the message
  std::string subsystem_;
  std::string devtype_;
  std::string properties_;
};

}  // namespace korvo_emu
