#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "deviceio/RunReport.h"
#include "discovery/DeviceList.h"

namespace korvo {

// --json: JSON Lines, one object a line, with the keys scripts read. A text
// from the device or the system (device, serial, description) that is not
// UTF-8 shows each byte that is not as U+FFFD, and comes whole, as hex, in a
// second member right after it: serial_hex, and so on.

// One tested unit; `entry` is null when no device was tested. `result` is one
// of sent, unable-to-open, cannot-open-file, cannot-read-file, write-failed,
// timeout, cancelled, no-device.
std::string UnitJson(const DeviceEntry* entry, const RunReport& report, std::string_view result,
                     double seconds, int exitStatus);

// -l --json: one line a device, in the listing's order; `automatic` is the
// one taken without asking, as '*' marks it.
std::string ListingJson(const DeviceList& devices, std::optional<int> automatic);

}  // namespace korvo
