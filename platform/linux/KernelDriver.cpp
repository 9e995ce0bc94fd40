#include "platform/linux/KernelDriver.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace korvo {

namespace {

int Ioctl(int fd, unsigned long request, void* argument) {
  int r;
  do {
    r = ioctl(fd, request, argument);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

bool BoundDriver(int usbfsFd, uint8_t interfaceNumber, std::string* name) {
  usbdevfs_getdriver request = {};
  request.interface = interfaceNumber;
  if (Ioctl(usbfsFd, USBDEVFS_GETDRIVER, &request) == 0) {
    request.driver[sizeof request.driver - 1] = '\0';
    *name = request.driver;
    return true;
  }
  if (errno != ENODATA) return false;
  name->clear();
  return true;
}

bool DetachUsblpAndClaim(int usbfsFd, uint8_t interfaceNumber) {
  usbdevfs_disconnect_claim request = {};
  request.interface = interfaceNumber;
  request.flags = USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER;
  static_assert(sizeof kUsblpDriver <= sizeof request.driver);
  std::memcpy(request.driver, kUsblpDriver, sizeof kUsblpDriver);
  return Ioctl(usbfsFd, USBDEVFS_DISCONNECT_CLAIM, &request) == 0;
}

void ReattachDriver(int usbfsFd, uint8_t interfaceNumber) {
  int saved = errno;
  usbdevfs_ioctl connect = {};
  connect.ifno = interfaceNumber;
  connect.ioctl_code = USBDEVFS_CONNECT;
  connect.data = nullptr;
  Ioctl(usbfsFd, USBDEVFS_IOCTL, &connect);
  errno = saved;
}

void ReleaseInterface(int usbfsFd, uint8_t interfaceNumber, bool reattach) {
  int saved = errno;
  unsigned int number = interfaceNumber;
  Ioctl(usbfsFd, USBDEVFS_RELEASEINTERFACE, &number);
  if (reattach) ReattachDriver(usbfsFd, interfaceNumber);
  errno = saved;
}

}  // namespace korvo
