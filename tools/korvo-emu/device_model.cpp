#include "device_model.h"

namespace korvo_emu {
namespace {

constexpr std::uint8_t kGetStatus = 0;
constexpr std::uint8_t kClearFeature = 1;
constexpr std::uint8_t kSetFeature = 3;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kGetConfiguration = 8;
constexpr std::uint8_t kSetConfiguration = 9;
constexpr std::uint8_t kGetInterface = 10;
constexpr std::uint8_t kSetInterface = 11;

constexpr std::uint8_t kStandardDeviceIn = 0x80;
constexpr std::uint8_t kStandardInterfaceIn = 0x81;
constexpr std::uint8_t kStandardEndpointIn = 0x82;

ControlAnswer Stall() { return ControlAnswer{true, {}}; }

ControlAnswer Data(Bytes bytes) { return ControlAnswer{false, std::move(bytes)}; }

ControlAnswer Descriptor(const DeviceConfig& config, std::uint16_t value) {
  const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
  const std::uint8_t index = static_cast<std::uint8_t>(value & 0xff);
  if (type == 1 && index == 0) return Data(DeviceDescriptor(config));
  if (type == 2 && index == 0) return Data(ConfigurationDescriptor(config));
  if (type == 3) {
    if (std::optional<Bytes> text = StringDescriptor(config, index)) return Data(*text);
  }
  return Stall();
}

ControlAnswer PortStatus(const DeviceConfig& config) {
  switch (config.status_reply) {
    case StatusReply::kByte: return Data({config.status_byte});
    case StatusReply::kEmpty: return Data({});
    case StatusReply::kStall: return Stall();
  }
  return Stall();
}

// Requests that only say "done": no data stage, nothing the emulation keeps.
bool IsAcknowledged(const SetupPacket& setup) {
  const std::uint8_t recipient = setup.request_type & 0x1f;
  const bool standard_out = (setup.request_type & 0xe0) == 0 && recipient <= 2;
  if (!standard_out) return false;
  if (setup.request == kClearFeature || setup.request == kSetFeature) return true;
  if (recipient == 0 && setup.request == kSetConfiguration) return setup.value <= 1;
  return recipient == 1 && setup.request == kSetInterface && setup.value == 0;
}

ControlAnswer Answer(const DeviceConfig& config, const SetupPacket& setup) {
  if (setup.request_type == kRequestTypePortStatus && setup.request == kRequestPortStatus) {
    return PortStatus(config);
  }
  if (setup.request_type == kStandardDeviceIn) {
    if (setup.request == kGetDescriptor) return Descriptor(config, setup.value);
    if (setup.request == kGetConfiguration) return Data({kConfigurationValue});
    if (setup.request == kGetStatus) return Data({1, 0});  // self-powered
  }
  if (setup.request_type == kStandardInterfaceIn) {
    if (setup.request == kGetInterface) return Data({0});
    if (setup.request == kGetStatus) return Data({0, 0});
  }
  if (setup.request_type == kStandardEndpointIn && setup.request == kGetStatus) {
    return Data({0, 0});
  }
  if (IsAcknowledged(setup)) return Data({});
  return Stall();
}

}  // namespace

ControlAnswer AnswerControl(const DeviceConfig& config, const SetupPacket& setup) {
  ControlAnswer answer = Answer(config, setup);
  if (answer.data.size() > setup.length) answer.data.resize(setup.length);
  return answer;
}

SetupPacket ParseSetup(const std::uint8_t* bytes) {
  auto word = [bytes](int at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
  };
  return SetupPacket{bytes[0], bytes[1], word(2), word(4), word(6)};
}

}  // namespace korvo_emu
