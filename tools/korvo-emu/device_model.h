// How an emulated device answers control requests: the standard ones a host
// sends, and the printer class's GET_PORT_STATUS.
#pragma once

#include <cstdint>

#include "descriptors.h"
#include "device_config.h"

namespace korvo_emu {

struct SetupPacket {
  std::uint8_t request_type = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

struct ControlAnswer {
  bool stall = false;
  Bytes data;  // for device-to-host requests; at most `length` bytes
};

inline constexpr std::uint8_t kRequestTypePortStatus = 0xa1;  // class, interface, IN
inline constexpr std::uint8_t kRequestPortStatus = 1;

// The device's answer, as long as it answers at all (see DeviceConfig::hang).
ControlAnswer AnswerControl(const DeviceConfig& config, const SetupPacket& setup);

// Reads the 8-byte setup packet at the start of a control transfer buffer.
SetupPacket ParseSetup(const std::uint8_t* bytes);

}  // namespace korvo_emu
