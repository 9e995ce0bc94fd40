#pragma once

#include <string>

#include "platform/DeviceInterfaces.h"

namespace korvo {

// One found device interface: the path that opens it, the text that
// names it to the operator, and what selectors on the command line match.
// Copies are independent.
struct DeviceEntry {
  DeviceEntry(const char* path, const char* desc) : devicePath(path), description(desc) {}

  std::string devicePath;
  std::string description;
  DeviceFacts facts;
};

}  // namespace korvo
