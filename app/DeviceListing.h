#pragma once

#include <optional>
#include <string>

#include "discovery/DeviceList.h"

namespace korvo {

// The text of -l: one line per device in list order, numbered as the
// device-choice dialog numbers them, the device at index `automatic` (the
// one taken without asking) marked with '*'. Names and serials are escaped
// for the terminal. `withBusAddress`: the system tells bus and address.
std::string DeviceListing(const DeviceList& devices, std::optional<int> automatic,
                          bool withBusAddress);

// How -l names the device at `index` in one word: "001:007", its bus and
// address, where the system tells them (`withBusAddress`), else its number
// in the listing.
std::string UnitName(const DeviceList& devices, int index, bool withBusAddress);

}  // namespace korvo
