// USB descriptors of an emulated device: one configuration, one interface with
// bulk OUT 0x01 and bulk IN 0x82.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "device_config.h"

namespace korvo_emu {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kBulkOutEndpoint = 0x01;
inline constexpr std::uint8_t kBulkInEndpoint = 0x82;
inline constexpr std::uint8_t kInterfaceNumber = 0;
inline constexpr std::uint8_t kConfigurationValue = 1;
inline constexpr std::uint8_t kManufacturerIndex = 1;
inline constexpr std::uint8_t kProductIndex = 2;
inline constexpr std::uint8_t kSerialIndex = 3;
inline constexpr std::uint16_t kDeviceRelease = 0x0100;
inline constexpr std::uint8_t kPrinterClass = 7;

inline bool IsDeviceEndpoint(unsigned address) {
  return address == kBulkOutEndpoint || address == kBulkInEndpoint;
}

Bytes DeviceDescriptor(const DeviceConfig& config);
Bytes ConfigurationDescriptor(const DeviceConfig& config);  // with interface and endpoints

// Device descriptor followed by the configuration, as sysfs and usbfs present them.
Bytes AllDescriptors(const DeviceConfig& config);

// String descriptor `index` (0: language list), or nullopt if the device has none.
// Text bytes are taken as Latin-1 and cut to the 126 characters a descriptor holds.
std::optional<Bytes> StringDescriptor(const DeviceConfig& config, std::uint8_t index);

std::uint8_t InterfaceSubClass(const DeviceConfig& config);
std::uint8_t InterfaceProtocol(const DeviceConfig& config);

}  // namespace korvo_emu
