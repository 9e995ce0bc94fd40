#pragma once

#include <optional>
#include <string>

namespace korvo {

// A device's name from two sysfs or udev strings, such as manufacturer and
// product: "first second", or second alone without a first; absent without
// a second. Either may be null (the attribute is missing).
std::optional<std::string> JoinName(const char* first, const char* second);

}  // namespace korvo
