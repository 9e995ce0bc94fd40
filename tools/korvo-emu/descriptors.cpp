#include "descriptors.h"

namespace korvo_emu {
namespace {

constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;
constexpr std::uint8_t kTransferBulk = 2;
constexpr std::uint16_t kMaxPacketSize = 512;
constexpr std::size_t kMaxStringChars = (255 - 2) / 2;

void PutWord(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xff));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutEndpoint(Bytes& out, std::uint8_t address) {
  out.insert(out.end(), {7, kDescriptorEndpoint, address, kTransferBulk});
  PutWord(out, kMaxPacketSize);
  out.push_back(0);  // bInterval
}

Bytes Utf16Descriptor(const std::string& text) {
  const std::size_t chars = std::min(text.size(), kMaxStringChars);
  Bytes out{static_cast<std::uint8_t>(2 + 2 * chars), kDescriptorString};
  for (std::size_t i = 0; i < chars; ++i) PutWord(out, static_cast<std::uint8_t>(text[i]));
  return out;
}

}  // namespace

std::uint8_t InterfaceSubClass(const DeviceConfig& config) {
  return config.interface_class == kPrinterClass ? 1 : 0;  // printers
}

std::uint8_t InterfaceProtocol(const DeviceConfig& config) {
  return config.interface_class == kPrinterClass ? 2 : 0;  // bidirectional
}

Bytes DeviceDescriptor(const DeviceConfig& config) {
  Bytes out{18, kDescriptorDevice};
  PutWord(out, 0x0200);               // bcdUSB
  out.insert(out.end(), {0, 0, 0, 64});  // class per interface; bMaxPacketSize0
  PutWord(out, config.vendor_id);
  PutWord(out, config.product_id);
  PutWord(out, kDeviceRelease);
  out.push_back(config.manufacturer ? kManufacturerIndex : 0);
  out.push_back(config.product ? kProductIndex : 0);
  out.push_back(config.serial ? kSerialIndex : 0);
  out.push_back(1);  // bNumConfigurations
  return out;
}

Bytes ConfigurationDescriptor(const DeviceConfig& config) {
  Bytes out{9, kDescriptorConfiguration};
  const std::uint8_t endpoints = config.bulk_out ? 2 : 1;
  PutWord(out, static_cast<std::uint16_t>(9 + 9 + 7 * endpoints));
  out.insert(out.end(), {1, kConfigurationValue, 0, 0xc0, 50});  // self-powered, 100 mA
  out.insert(out.end(), {9, kDescriptorInterface, kInterfaceNumber, 0, endpoints,
                         config.interface_class, InterfaceSubClass(config),
                         InterfaceProtocol(config), 0});
  if (config.bulk_out) PutEndpoint(out, kBulkOutEndpoint);
  PutEndpoint(out, kBulkInEndpoint);
  return out;
}

Bytes AllDescriptors(const DeviceConfig& config) {
  Bytes out = DeviceDescriptor(config);
  const Bytes configuration = ConfigurationDescriptor(config);
  out.insert(out.end(), configuration.begin(), configuration.end());
  return out;
}

std::optional<Bytes> StringDescriptor(const DeviceConfig& config, std::uint8_t index) {
  if (index == 0) return Bytes{4, kDescriptorString, 0x09, 0x04};  // US English
  if (index == kManufacturerIndex && config.manufacturer) {
    return Utf16Descriptor(*config.manufacturer);
  }
  if (index == kProductIndex && config.product) return Utf16Descriptor(*config.product);
  if (index == kSerialIndex && config.serial) return Utf16Descriptor(*config.serial);
  return std::nullopt;
}

}  // namespace korvo_emu
