#pragma once

#include <cstdint>

struct libusb_device_handle;

namespace korvo {

// An open device on Linux: its usbfs node, wrapped by libusb, with the one
// interface that the tool has claimed for itself.
struct Device {
  int fd;                         // the usbfs node; libusb does not close it
  libusb_device_handle* handle;
  uint8_t interfaceNumber;        // of the claimed interface
  uint8_t bulkOut;                // its bulk OUT endpoint address
  int lpFd;                       // usblp's node, held while usblp is moved aside; else -1
};

}  // namespace korvo
