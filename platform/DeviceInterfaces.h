#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// Whether this system's records carry bus numbers and addresses.
bool DiscoveryKnowsBusAddress();

// The present interfaces of one class, in the system's order; one that
// cannot be read is left out, and later ones still count. Nothing when the
// system refuses to list the class.
std::optional<std::vector<InterfaceRecord>> ListPresentInterfaces(const InterfaceClassId& interfaceClass);

}  // namespace korvo
