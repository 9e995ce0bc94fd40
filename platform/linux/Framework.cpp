#include "platform/Framework.h"

#include <libudev.h>
#include <libusb.h>

#include "platform/linux/LinuxContext.h"

namespace korvo {

namespace {
libusb_context* g_usb = nullptr;
udev* g_udev = nullptr;
}  // namespace

libusb_context* UsbContext() { return g_usb; }
udev* UdevContext() { return g_udev; }

bool InitFramework() {
  if (libusb_init(&g_usb) != LIBUSB_SUCCESS) {
    g_usb = nullptr;
    return false;
  }
  g_udev = udev_new();
  if (!g_udev) {
    libusb_exit(g_usb);
    g_usb = nullptr;
    return false;
  }
  return true;
}

}  // namespace korvo
