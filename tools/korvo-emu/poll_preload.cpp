// Preloaded into the command in front of umockdev: poll() on an emulated usbfs
// node waits as it would on Linux, where usbfs reports POLLOUT only while a
// completed URB waits to be reaped (or the device is gone). umockdev's node is a
// plain file, always ready, so libusb's event loop would spin reaping nothing
// for as long as a transfer hangs. Each node's readiness is korvo-emu's FIFO
// (usbfs_ready.h), polled in its place.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "usbfs_ready.h"

namespace {

using korvo_emu::kNodeDir;
using korvo_emu::kReadyDir;

constexpr char kUsbfsDir[] = "bus/usb/";
constexpr nfds_t kMaxMapped = 64;  // libusb polls a handful; more go through unchanged

// The FIFOs opened so far, by node path; never closed, as there are a few.
struct Opened {
  char node[256];
  int fifo;
};
std::mutex g_mutex;
Opened g_opened[16];
std::size_t g_count = 0;

// The readiness FIFO of `fd` if it is an emulated usbfs node, else -1.
int ReadyFifo(int fd, const char* root) {
  char link[64], node[256];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, node, sizeof node - 1);
  if (length <= 0) return -1;
  node[length] = '\0';
  const std::size_t root_length = std::strlen(root);
  const char* rest = node + root_length + sizeof kNodeDir - 1;
  if (std::strncmp(node, root, root_length) != 0 ||
      std::strncmp(node + root_length, kNodeDir, sizeof kNodeDir - 1) != 0 ||
      std::strncmp(rest, kUsbfsDir, sizeof kUsbfsDir - 1) != 0) {
    return -1;
  }
  const std::lock_guard<std::mutex> lock(g_mutex);
  for (std::size_t i = 0; i < g_count; ++i) {
    if (std::strcmp(g_opened[i].node, node) == 0) return g_opened[i].fifo;
  }
  char fifo_path[512];
  std::snprintf(fifo_path, sizeof fifo_path, "%s%s%s", root, kReadyDir, rest);
  const int fifo = open(fifo_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fifo < 0) return -1;
  if (g_count == sizeof g_opened / sizeof g_opened[0]) {  // the plain poll, then
    close(fifo);
    return -1;
  }
  std::memcpy(g_opened[g_count].node, node, sizeof node);
  g_opened[g_count++].fifo = fifo;
  return fifo;
}

}  // namespace

extern "C" int poll(struct pollfd* fds, nfds_t count, int timeout) {
  using Function = int (*)(struct pollfd*, nfds_t, int);
  static const Function next = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "poll"));
  const char* root = std::getenv("UMOCKDEV_DIR");
  if (!root || count > kMaxMapped) return next(fds, count, timeout);
  struct pollfd polled[kMaxMapped];
  bool mapped[kMaxMapped] = {};
  bool any = false;
  for (nfds_t i = 0; i < count; ++i) {
    polled[i] = fds[i];
    if (fds[i].fd < 0 || !(fds[i].events & (POLLOUT | POLLWRNORM))) continue;
    const int fifo = ReadyFifo(fds[i].fd, root);
    if (fifo < 0) continue;
    polled[i].fd = fifo;
    polled[i].events = POLLIN;
    mapped[i] = any = true;
  }
  if (!any) return next(fds, count, timeout);
  const int result = next(polled, count, timeout);
  if (result <= 0) return result;
  for (nfds_t i = 0; i < count; ++i) {
    if (!mapped[i]) {
      fds[i].revents = polled[i].revents;
      continue;
    }
    const bool ready = polled[i].revents & (POLLIN | POLLHUP | POLLERR);
    fds[i].revents = ready ? static_cast<short>(fds[i].events & (POLLOUT | POLLWRNORM)) : 0;
  }
  return result;
}
