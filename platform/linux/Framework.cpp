#include "platform/Framework.h"

#include <fcntl.h>
#include <libudev.h>
#include <libusb.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/Linux.h"

namespace korvo {

namespace {
libusb_context* g_usb = nullptr;
udev* g_udev = nullptr;

// A program started with stdin, stdout or stderr closed would hand out those
// numbers to the next files it opens, and its printf would then write into a
// device or the file being sent. /dev/null takes their place first. Which
// ones are missing is settled before anything is opened.
bool FillStandardDescriptors() {
  bool missing[3];
  bool any = false;
  for (int fd = 0; fd <= 2; ++fd) {
    missing[fd] = fcntl(fd, F_GETFD) < 0 && errno == EBADF;
    any = any || missing[fd];
  }
  if (!any) return true;
  int null = open("/dev/null", O_RDWR);
  if (null < 0) return false;
  for (int fd = 0; fd <= 2; ++fd) {
    if (missing[fd] && fd != null && dup2(null, fd) < 0) return false;
  }
  if (null > 2) close(null);
  return true;
}
}  // namespace

libusb_context* UsbContext() { return g_usb; }
udev* UdevContext() { return g_udev; }

bool InitFramework() {
  if (!FillStandardDescriptors()) return false;

  // A reader of stdout that went away must not end the run half-way, with
  // the device claimed: the writes just fail, and the file is still sent.
  signal(SIGPIPE, SIG_IGN);

  // Devices are opened by their node (libusb_wrap_sys_device): libusb need
  // not list every device, nor start a thread to watch for new ones.
  if (libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY) != LIBUSB_SUCCESS ||
      libusb_init(&g_usb) != LIBUSB_SUCCESS) {
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
