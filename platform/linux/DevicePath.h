#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// A USB device as the Linux layer names it: its usbfs node with the IDs
// appended, "/dev/bus/usb/001/002#vid_6742&pid_0001". The vendor can be read
// from the path as on Windows, and the open can check that the node still
// belongs to the device that discovery saw.
struct UsbDevicePath {
  std::string node;
  uint16_t vendor = 0;
  uint16_t product = 0;
};

std::string FormatDevicePath(const UsbDevicePath& path);

// Exactly what FormatDevicePath writes (lowercase hex, nothing after the
// product ID); anything else is nullopt.
std::optional<UsbDevicePath> ParseDevicePath(std::string_view text);

}  // namespace korvo
