// The port-status request and raw writes on a claimed device (libusb,
// synchronous calls). Both may come from two threads at once: libusb takes
// care of that.
#include <libusb.h>

#include <algorithm>
#include <cerrno>

#include "platform/Device.h"
#include "platform/linux/LinuxDevice.h"
#include "platform/linux/UsbErrorNumber.h"

namespace korvo {

namespace {

// USB printer class GET_PORT_STATUS: class request to the interface, device
// to host, one status byte.
constexpr uint8_t kGetPortStatusRequestType = 0xA1;  // IN | CLASS | INTERFACE
constexpr uint8_t kGetPortStatus = 1;
// As the kernel's printer driver waits for its control requests.
constexpr unsigned kStatusTimeoutMs = 5000;

// usbfs refuses a single transfer over its limit (16 MiB by default).
constexpr uint64_t kWriteChunk = 1024 * 1024;
// A printer out of paper holds a write for as long as it takes.
constexpr unsigned kWriteTimeoutMs = 0;

}  // namespace

// The request has no input on USB; `input` is not sent.
bool QueryPortStatus(Device* device, const void* input, uint32_t inputLength, void* reply,
                     uint32_t replyLength, uint32_t* replyCount) {
  (void)input;
  (void)inputLength;
  unsigned char status = 0;
  uint16_t wanted = replyLength > 0 ? 1 : 0;
  int r = libusb_control_transfer(device->handle, kGetPortStatusRequestType, kGetPortStatus, 0,
                                  device->interfaceNumber, &status, wanted, kStatusTimeoutMs);
  if (r < 0) {
    errno = ErrnoFromUsbError(r);
    return false;
  }
  // A failed request leaves the caller's reply as it was.
  if (r > 0) static_cast<unsigned char*>(reply)[0] = status;
  *replyCount = static_cast<uint32_t>(r);
  return true;
}

bool WriteDevice(Device* device, const void* data, uint64_t length, uint64_t* written,
                 WriteProgress* progress) {
  unsigned char* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
  *written = 0;
  while (*written < length) {
    int chunk = static_cast<int>(std::min(length - *written, kWriteChunk));
    int transferred = 0;
    int r = libusb_bulk_transfer(device->handle, device->bulkOut, bytes + *written, chunk,
                                 &transferred, kWriteTimeoutMs);
    *written += static_cast<uint64_t>(transferred);
    if (r != LIBUSB_SUCCESS) {
      errno = ErrnoFromUsbError(r);
      return false;
    }
    if (transferred == 0) {  // no progress and no error: do not spin
      errno = EIO;
      return false;
    }
    if (progress) progress->Sent(*written);
  }
  return true;
}

}  // namespace korvo
