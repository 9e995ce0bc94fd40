// The yardstick for korvo-test's transfer: the least a libusb program can do
// to send a file, with nothing of korvo-test in the way. It maps the file
// and sends it in 1 MiB bulk transfers on the interface's bulk OUT endpoint.
#include "bench/BareWriter.h"

#include <fcntl.h>
#include <libusb.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace korvo::bench {

namespace {

constexpr size_t kChunk = 1024 * 1024;
constexpr int kInterface = 0;
constexpr unsigned char kBulkOut = 0x01;

bool SendMapped(libusb_device_handle* handle, const unsigned char* data, size_t size) {
  for (size_t sent = 0; sent < size;) {
    int chunk = static_cast<int>(std::min(size - sent, kChunk));
    int transferred = 0;
    if (libusb_bulk_transfer(handle, kBulkOut, const_cast<unsigned char*>(data + sent), chunk,
                             &transferred, 0) != LIBUSB_SUCCESS) {
      return false;
    }
    sent += static_cast<size_t>(transferred);
  }
  return true;
}

bool SendOnHandle(libusb_device_handle* handle, const char* file) {
  int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  bool sent = false;
  if (fstat(fd, &status) == 0 && status.st_size > 0) {
    size_t size = static_cast<size_t>(status.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data != MAP_FAILED) {
      sent = SendMapped(handle, static_cast<const unsigned char*>(data), size);
      munmap(data, size);
    }
  }
  close(fd);
  return sent;
}

}  // namespace

bool BareSendFile(const char* node, const char* file) {
  libusb_context* context = nullptr;
  if (libusb_init(&context) != LIBUSB_SUCCESS) return false;
  bool sent = false;
  int fd = open(node, O_RDWR | O_CLOEXEC);
  libusb_device_handle* handle = nullptr;
  if (fd >= 0 && libusb_wrap_sys_device(context, fd, &handle) == LIBUSB_SUCCESS) {
    if (libusb_claim_interface(handle, kInterface) == LIBUSB_SUCCESS) {
      sent = SendOnHandle(handle, file);
      libusb_release_interface(handle, kInterface);
    }
    libusb_close(handle);
  }
  if (fd >= 0) close(fd);
  libusb_exit(context);
  return sent;
}

}  // namespace korvo::bench
