#pragma once

#include <optional>

#include "discovery/DeviceList.h"

namespace korvo {

// Picks the device to test without asking: the only one, else the first
// whose path carries the KORVO vendor ID. No answer when neither applies.
// The list must hold at least one entry.
std::optional<int> ChooseDevice(const DeviceList& list);

}  // namespace korvo
