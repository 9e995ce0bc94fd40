#include "platform/OpenHints.h"

#include <windows.h>

#include "platform/ErrorNumber.h"

namespace korvo {

std::vector<std::string> DeviceOpenHints(const std::string& path, int error) {
  std::vector<std::string> hints = {path + ": " + ErrorText(error)};
  switch (static_cast<DWORD>(error)) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      // The open asks for the device alone, so any other holder refuses it.
      hints.push_back("another program has the device open; close it and try again");
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      hints.push_back("the device is gone since it was listed: check its cable and power");
      break;
    default:
      break;
  }
  return hints;
}

}  // namespace korvo
