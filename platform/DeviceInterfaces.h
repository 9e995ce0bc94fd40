#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace korvo {

// A device interface class, laid out like the Windows GUID.
struct InterfaceClassId {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// What identifies a USB device to an operator choosing it on the command
// line. Each fact is absent when the system does not tell it.
struct DeviceFacts {
  std::optional<unsigned> bus;        // bus number (Linux)
  std::optional<unsigned> address;    // device address on that bus (Linux)
  std::optional<unsigned> vendorId;
  std::optional<unsigned> productId;
  std::optional<std::string> serial;  // the serial-number string, as the device gives it
};

// What the operating system tells about one present device interface.
// Either name may be absent; the caller decides which one to show.
struct InterfaceRecord {
  std::string devicePath;                         // what OpenDevice takes
  std::optional<std::string> friendlyName;        // the device's own name
  std::optional<std::string> deviceDescription;   // the system's name for it
  DeviceFacts facts;
};

enum class InterfaceRead {
  Read,        // the record is filled in
  Unreadable,  // an interface exists at this index but cannot be read
  NoMore,      // no interface at this index: the enumeration is over
};

// The present interfaces of one class, in a stable order, read by index.
class DeviceInterfaceSet {
 public:
  virtual ~DeviceInterfaceSet() = default;
  virtual InterfaceRead ReadInterface(unsigned index, InterfaceRecord& record) = 0;
};

// Whether this system's records carry bus numbers and addresses.
bool DiscoveryKnowsBusAddress();

// nullptr when the system refuses to list the class.
std::unique_ptr<DeviceInterfaceSet> OpenPresentInterfaces(const InterfaceClassId& interfaceClass);

}  // namespace korvo
