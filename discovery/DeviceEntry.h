#pragma once

#include <string>

namespace korvo {

// One found device interface: the path that opens it and the text that
// names it to the operator. Copies are independent.
struct DeviceEntry {
  DeviceEntry(const char* path, const char* desc) : devicePath(path), description(desc) {}

  std::string devicePath;
  std::string description;
};

}  // namespace korvo
