// emu-client: looks at the emulated USB devices the way korvo-test does (libudev,
// libusb) and prints what it sees, one line per fact, for the korvo-emu tests.
//
//   emu-client list                  udev's USB devices, in enumeration order
//   emu-client monitor COUNT         the next COUNT uevents of subsystem usb, as
//                                    a libudev monitor gets them from udevd:
//                                    action, devtype, sysname, and the
//                                    properties DEVNUM and DRIVER where given
//   emu-client BUS DEV STEP...       open bus/device with libusb, then run steps:
//     claim | release | autodetach | driver | detach | status[=TIMEOUT_MS] |
//     string=INDEX | describe |
//     write=SIZE[/CHUNK[/TIMEOUT_MS]]  (bytes follow Pattern, support/Pattern.h) |
//     status-thread=COUNT | join       (status requests from a second thread) |
//     raw-status[=TIMEOUT_MS] | raw-write=SIZE[/TIMEOUT_MS]
//                                      (USBDEVFS_CONTROL / USBDEVFS_BULK on a second
//                                       open file of the node, as libusb does not) |
//     raw-submit=SIZE | raw-reap | raw-poll
//                                      (SUBMITURB, REAPURBNDELAY, poll for POLLOUT
//                                       on that file) |
//     wrap                             (libusb_wrap_sys_device on that second file) |
//     attach                           (libusb_attach_kernel_driver) |
//     raw-getdriver | raw-disconnect-claim[=if:NAME|except:NAME] | raw-release |
//     raw-connect | raw-disconnect | raw-close
//                                      (driver ioctls on the second file; raw-close
//                                       closes it) |
//     udev-driver                      (the interface's driver, as libudev reads
//                                       it from sysfs) |
//     sleep=MS                         (holds what the steps before took) |
//     lp-open | lp-close               (the interface's usblp node, found with
//                                       libudev, opened as korvo-test does; each
//                                       lp-open adds an open file, lp-close closes
//                                       the oldest)
//
// Texts are printed with bytes outside '!'..'~' and '%' as %XX.
#include <fcntl.h>
#include <libudev.h>
#include <libusb-1.0/libusb.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Pattern.h"

namespace {

std::string Escape(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < '!' || *p > '~' || *p == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", *p);
      out += hex;
    } else {
      out.push_back(static_cast<char>(*p));
    }
  }
  return out;
}

void PrintField(const char* name, const char* value) {
  if (value) std::printf(" %s=%s", name, Escape(value).c_str());
}

void PrintUdevDevice(udev_device* device) {
  std::printf("%s", udev_device_get_sysname(device));
  PrintField("type", udev_device_get_devtype(device));
  PrintField("node", udev_device_get_devnode(device));
  std::printf(" init=%d", udev_device_get_is_initialized(device));
  const char* attributes[] = {"idVendor", "idProduct", "busnum", "devnum", "manufacturer",
                              "product", "bInterfaceClass", "dev"};
  for (const char* name : attributes) {
    PrintField(name, udev_device_get_sysattr_value(device, name));
  }
  PrintField("PRODUCT", udev_device_get_property_value(device, "PRODUCT"));
  PrintField("vendor-db", udev_device_get_property_value(device, "ID_VENDOR_FROM_DATABASE"));
  PrintField("model-db", udev_device_get_property_value(device, "ID_MODEL_FROM_DATABASE"));
  std::printf("\n");
}

int ListUdev() {
  udev* context = udev_new();
  udev_enumerate* enumerate = udev_enumerate_new(context);
  udev_enumerate_add_match_subsystem(enumerate, "usb");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (!device) continue;
    PrintUdevDevice(device);
    udev_device_unref(device);
  }
  udev_enumerate_unref(enumerate);
  udev_unref(context);
  return 0;
}

int Monitor(int count) {
  udev* context = udev_new();
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    std::perror("monitor");
    return 1;
  }
  std::printf("monitoring\n");
  for (int seen = 0; seen < count;) {
    pollfd ready = {udev_monitor_get_fd(monitor), POLLIN, 0};
    if (poll(&ready, 1, 30000) <= 0) {
      std::printf("no more uevents\n");
      break;
    }
    while (udev_device* device = udev_monitor_receive_device(monitor)) {
      const char* devnum = udev_device_get_property_value(device, "DEVNUM");
      const char* driver = udev_device_get_property_value(device, "DRIVER");
      std::printf("%s %s %s%s%s%s%s\n", udev_device_get_action(device), udev_device_get_devtype(device),
                  udev_device_get_sysname(device), devnum ? " devnum " : "", devnum ? devnum : "",
                  driver ? " driver " : "", driver ? driver : "");
      udev_device_unref(device);
      ++seen;
    }
  }
  udev_monitor_unref(monitor);
  udev_unref(context);
  return 0;
}

libusb_device_handle* Open(libusb_context* context, int bus, int address) {
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  libusb_device* found = nullptr;
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address) {
      found = list[i];
    }
  }
  libusb_device_handle* handle = nullptr;
  const int result = found ? libusb_open(found, &handle) : LIBUSB_ERROR_NOT_FOUND;
  libusb_free_device_list(list, 1);
  std::printf("open %s\n", result == 0 ? "OK" : libusb_error_name(result));
  return handle;
}

void Status(libusb_device_handle* handle, unsigned timeout) {
  unsigned char reply[1] = {0};
  const int result = libusb_control_transfer(handle, 0xa1, 1, 0, 0, reply, 1, timeout);
  if (result < 0) std::printf("status %s\n", libusb_error_name(result));
  else if (result == 0) std::printf("status empty\n");
  else std::printf("status %02x\n", reply[0]);
}

void GetString(libusb_device_handle* handle, int index) {
  unsigned char text[256] = {0};
  const int result = libusb_get_string_descriptor_ascii(
      handle, static_cast<std::uint8_t>(index), text, sizeof text);
  if (result < 0) std::printf("string %s\n", libusb_error_name(result));
  else std::printf("string %s\n", Escape(reinterpret_cast<const char*>(text)).c_str());
}

// Sends `size` pattern bytes to endpoint 0x01 in transfers of `chunk` bytes.
void Write(libusb_device_handle* handle, std::size_t size, std::size_t chunk, unsigned timeout) {
  std::string data = korvo::test::Pattern(size);
  auto* bytes = reinterpret_cast<unsigned char*>(data.data());
  std::size_t sent = 0;
  int result = 0;
  do {
    const std::size_t length = std::min(chunk, size - sent);
    int transferred = 0;
    result = libusb_bulk_transfer(handle, 0x01, bytes + sent, static_cast<int>(length),
                                  &transferred, timeout);
    sent += static_cast<std::size_t>(transferred);
  } while (result == 0 && sent < size);
  std::printf("write %s %zu\n", result == 0 ? "OK" : libusb_error_name(result), sent);
}

void Write(libusb_device_handle* handle, const char* arguments) {
  std::size_t size = 0;
  std::size_t chunk = 0;
  unsigned timeout = 1000;
  const int fields = std::sscanf(arguments, "%zu/%zu/%u", &size, &chunk, &timeout);
  if (fields < 2 || chunk == 0) chunk = size > 0 ? size : 1;
  Write(handle, size, chunk, timeout);
}

void Describe(libusb_device_handle* handle) {
  libusb_device* device = libusb_get_device(handle);
  libusb_device_descriptor descriptor{};
  libusb_get_device_descriptor(device, &descriptor);
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != 0) {
    std::printf("describe no configuration\n");
    return;
  }
  const libusb_interface_descriptor& interface = config->interface[0].altsetting[0];
  std::printf("describe %04x:%04x strings %d %d class %02x/%02x/%02x endpoints", descriptor.idVendor,
              descriptor.idProduct, descriptor.iManufacturer, descriptor.iProduct,
              interface.bInterfaceClass, interface.bInterfaceSubClass,
              interface.bInterfaceProtocol);
  for (int i = 0; i < interface.bNumEndpoints; ++i) {
    const libusb_endpoint_descriptor& endpoint = interface.endpoint[i];
    std::printf(" %02x/%s", endpoint.bEndpointAddress,
                (endpoint.bmAttributes & 3) == LIBUSB_TRANSFER_TYPE_BULK ? "bulk" : "other");
  }
  std::printf("\n");
  libusb_free_config_descriptor(config);
}

// Status requests from a second thread, as korvo-test's monitor makes them.
struct StatusThread {
  std::thread thread;
  int answered = 0;
  int failed = 0;
};

void StartStatusThread(libusb_device_handle* handle, StatusThread& worker, int count) {
  worker.thread = std::thread([handle, &worker, count] {
    for (int i = 0; i < count; ++i) {
      unsigned char reply[1] = {0};
      const int result = libusb_control_transfer(handle, 0xa1, 1, 0, 0, reply, 1, 1000);
      if (result == 1) ++worker.answered;
      else ++worker.failed;
    }
  });
}

// A second open file of the node, for the synchronous usbfs ioctls.
struct Raw {
  std::string node;
  int fd = -1;
  std::unique_ptr<usbdevfs_urb> urb;  // one URB at a time, live until reaped
  std::string buffer;
};

bool OpenRaw(Raw& raw) {
  if (raw.fd < 0) raw.fd = open(raw.node.c_str(), O_RDWR | O_CLOEXEC);
  if (raw.fd < 0) std::printf("raw-open %s\n", strerrorname_np(errno));
  return raw.fd >= 0;
}

void RawStatus(Raw& raw, unsigned timeout) {
  if (!OpenRaw(raw)) return;
  unsigned char reply[4] = {0};
  usbdevfs_ctrltransfer request{0xa1, 1, 0, 0, 1, timeout, reply};
  const int result = ioctl(raw.fd, USBDEVFS_CONTROL, &request);
  if (result < 0) std::printf("raw-status %s\n", strerrorname_np(errno));
  else if (result == 0) std::printf("raw-status empty\n");
  else std::printf("raw-status %02x\n", reply[0]);
}

void RawWrite(Raw& raw, const char* arguments) {
  if (!OpenRaw(raw)) return;
  unsigned size = 0;
  unsigned timeout = 1000;
  std::sscanf(arguments, "%u/%u", &size, &timeout);
  std::string data = korvo::test::Pattern(size);
  usbdevfs_bulktransfer request{0x01, size, timeout, data.data()};
  const int result = ioctl(raw.fd, USBDEVFS_BULK, &request);
  if (result < 0) std::printf("raw-write %s\n", strerrorname_np(errno));
  else std::printf("raw-write OK %d\n", result);
}

// An asynchronous bulk write of N pattern bytes, as libusb sends it.
void RawSubmit(Raw& raw, const char* arguments) {
  if (!OpenRaw(raw)) return;
  raw.buffer = korvo::test::Pattern(static_cast<unsigned>(std::atoi(arguments)));
  raw.urb = std::make_unique<usbdevfs_urb>();
  raw.urb->type = USBDEVFS_URB_TYPE_BULK;
  raw.urb->endpoint = 0x01;
  raw.urb->buffer = raw.buffer.data();
  raw.urb->buffer_length = static_cast<int>(raw.buffer.size());
  const int result = ioctl(raw.fd, USBDEVFS_SUBMITURB, raw.urb.get());
  std::printf("raw-submit %s\n", result < 0 ? strerrorname_np(errno) : "OK");
}

void RawReap(Raw& raw) {
  if (!OpenRaw(raw)) return;
  usbdevfs_urb* reaped = nullptr;
  if (ioctl(raw.fd, USBDEVFS_REAPURBNDELAY, &reaped) < 0) {
    std::printf("raw-reap %s\n", strerrorname_np(errno));
  } else {
    std::printf("raw-reap OK %d\n", reaped->actual_length);
  }
}

// Whether the node polls ready for writing, which usbfs says while a URB waits.
void RawPoll(Raw& raw) {
  if (!OpenRaw(raw)) return;
  pollfd entry{raw.fd, POLLOUT, 0};
  const int result = poll(&entry, 1, 0);
  std::printf("raw-poll %s\n", result < 0 ? strerrorname_np(errno)
                               : result == 0 ? "none" : (entry.revents & POLLOUT) ? "ready" : "other");
}

// libusb on an open file it did not find itself: no sysfs, so it asks the node.
void Wrap(libusb_context* context, Raw& raw) {
  if (!OpenRaw(raw)) return;
  libusb_device_handle* wrapped = nullptr;
  const int result = libusb_wrap_sys_device(context, raw.fd, &wrapped);
  if (result != 0) {
    std::printf("wrap %s\n", libusb_error_name(result));
    return;
  }
  int configuration = -1;
  libusb_get_configuration(wrapped, &configuration);
  libusb_device* device = libusb_get_device(wrapped);
  std::printf("wrap OK speed %d address %d configuration %d\n", libusb_get_device_speed(device),
              libusb_get_device_address(device), configuration);
  libusb_close(wrapped);
}

void RawGetDriver(Raw& raw) {
  if (!OpenRaw(raw)) return;
  usbdevfs_getdriver request{};
  request.interface = 0;
  if (ioctl(raw.fd, USBDEVFS_GETDRIVER, &request) < 0) {
    std::printf("raw-getdriver %s\n", strerrorname_np(errno));
  } else {
    std::printf("raw-getdriver %s\n", Escape(request.driver).c_str());
  }
}

// "if:NAME", "except:NAME" or "" (no flags).
void RawDisconnectClaim(Raw& raw, const std::string& how) {
  if (!OpenRaw(raw)) return;
  usbdevfs_disconnect_claim request{};
  request.interface = 0;
  const std::size_t colon = how.find(':');
  if (colon != std::string::npos) {
    request.flags = how.substr(0, colon) == "if" ? USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER
                                                 : USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER;
    how.copy(request.driver, sizeof request.driver - 1, colon + 1);
  }
  const int result = ioctl(raw.fd, USBDEVFS_DISCONNECT_CLAIM, &request);
  std::printf("raw-disconnect-claim %s\n", result < 0 ? strerrorname_np(errno) : "OK");
}

void RawRelease(Raw& raw) {
  if (!OpenRaw(raw)) return;
  unsigned interface = 0;
  const int result = ioctl(raw.fd, USBDEVFS_RELEASEINTERFACE, &interface);
  std::printf("raw-release %s\n", result < 0 ? strerrorname_np(errno) : "OK");
}

// USBDEVFS_IOCTL with DISCONNECT or CONNECT: prints the result (CONNECT: 1 when a
// driver bound, 0 when none did).
void RawDriverIoctl(Raw& raw, const char* name, unsigned long code) {
  if (!OpenRaw(raw)) return;
  usbdevfs_ioctl command{0, static_cast<int>(code), nullptr};
  const int result = ioctl(raw.fd, USBDEVFS_IOCTL, &command);
  if (result < 0) std::printf("%s %s\n", name, strerrorname_np(errno));
  else std::printf("%s %d\n", name, result);
}

// The udev device of interface 0 of bus/address, or null.
udev_device* FindInterface(udev* context, int bus, int address) {
  udev_enumerate* enumerate = udev_enumerate_new(context);
  udev_enumerate_add_match_subsystem(enumerate, "usb");
  udev_enumerate_add_match_property(enumerate, "DEVTYPE", "usb_interface");
  udev_enumerate_scan_devices(enumerate);
  udev_device* found = nullptr;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* interface = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    udev_device* device = interface ? udev_device_get_parent(interface) : nullptr;
    const char* busnum = device ? udev_device_get_sysattr_value(device, "busnum") : nullptr;
    const char* devnum = device ? udev_device_get_sysattr_value(device, "devnum") : nullptr;
    if (!found && busnum && devnum && std::atoi(busnum) == bus && std::atoi(devnum) == address) {
      found = interface;
    } else if (interface) {
      udev_device_unref(interface);
    }
  }
  udev_enumerate_unref(enumerate);
  return found;
}

// The usblp node below the interface: the usbmisc child's device node.
std::string FindLpNode(int bus, int address) {
  udev* context = udev_new();
  udev_device* interface = FindInterface(context, bus, address);
  std::string node;
  if (interface) {
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_parent(enumerate, interface);
    udev_enumerate_add_match_subsystem(enumerate, "usbmisc");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* first = udev_enumerate_get_list_entry(enumerate);
    udev_device* misc = first ? udev_device_new_from_syspath(context, udev_list_entry_get_name(first))
                              : nullptr;
    if (misc && udev_device_get_devnode(misc)) node = udev_device_get_devnode(misc);
    if (misc) udev_device_unref(misc);
    udev_enumerate_unref(enumerate);
    udev_device_unref(interface);
  }
  udev_unref(context);
  return node;
}

struct Session {
  libusb_context* context;
  libusb_device_handle* handle;
  StatusThread status_thread;
  Raw raw;
  int bus;
  int address;
  std::vector<int> lp_fds;
};

void UdevDriver(const Session& session) {
  udev* context = udev_new();
  udev_device* interface = FindInterface(context, session.bus, session.address);
  const char* driver = interface ? udev_device_get_driver(interface) : nullptr;
  std::printf("udev-driver %s\n", driver ? Escape(driver).c_str() : "none");
  if (interface) udev_device_unref(interface);
  udev_unref(context);
}

void LpOpen(Session& session) {
  const std::string node = FindLpNode(session.bus, session.address);
  if (node.empty()) {
    std::printf("lp-open none\n");
    return;
  }
  const int fd = open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  std::printf("lp-open %s %s\n", node.c_str(), fd < 0 ? strerrorname_np(errno) : "OK");
  if (fd >= 0) session.lp_fds.push_back(fd);
}

void LpClose(Session& session) {
  if (session.lp_fds.empty()) return;
  close(session.lp_fds.front());
  session.lp_fds.erase(session.lp_fds.begin());
}

bool RunDriverStep(Session& session, const std::string& name, const char* value) {
  if (name == "raw-getdriver") {
    RawGetDriver(session.raw);
  } else if (name == "raw-disconnect-claim") {
    RawDisconnectClaim(session.raw, value);
  } else if (name == "raw-release") {
    RawRelease(session.raw);
  } else if (name == "raw-connect") {
    RawDriverIoctl(session.raw, "raw-connect", USBDEVFS_CONNECT);
  } else if (name == "raw-disconnect") {
    RawDriverIoctl(session.raw, "raw-disconnect", USBDEVFS_DISCONNECT);
  } else if (name == "raw-close") {
    if (session.raw.fd >= 0) close(session.raw.fd);
  for (const int fd : session.lp_fds) close(fd);
    session.raw.fd = -1;
  } else if (name == "udev-driver") {
    UdevDriver(session);
  } else if (name == "lp-open") {
    LpOpen(session);
  } else if (name == "lp-close") {
    LpClose(session);
  } else {
    return false;
  }
  return true;
}

bool RunRawStep(Session& session, const std::string& name, const char* value) {
  if (name == "raw-status") {
    RawStatus(session.raw, *value ? static_cast<unsigned>(std::atoi(value)) : 1000);
  } else if (name == "raw-write") {
    RawWrite(session.raw, value);
  } else if (name == "status-thread") {
    StartStatusThread(session.handle, session.status_thread, std::atoi(value));
  } else if (name == "raw-submit") {
    RawSubmit(session.raw, value);
  } else if (name == "raw-reap") {
    RawReap(session.raw);
  } else if (name == "raw-poll") {
    RawPoll(session.raw);
  } else if (name == "wrap") {
    Wrap(session.context, session.raw);
  } else if (name == "join") {
    session.status_thread.thread.join();
    std::printf("join %d answered %d failed\n", session.status_thread.answered,
                session.status_thread.failed);
  } else if (name == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value)));
  } else {
    return RunDriverStep(session, name, value);
  }
  return true;
}

bool RunStep(Session& session, const std::string& step) {
  libusb_device_handle* handle = session.handle;
  const std::size_t eq = step.find('=');
  const std::string name = step.substr(0, eq);
  const char* value = eq == std::string::npos ? "" : step.c_str() + eq + 1;
  int result = 0;
  if (name == "claim") {
    result = libusb_claim_interface(handle, 0);
    std::printf("claim %s\n", result == 0 ? "OK" : libusb_error_name(result));
  } else if (name == "release") {
    result = libusb_release_interface(handle, 0);
    std::printf("release %s\n", result == 0 ? "OK" : libusb_error_name(result));
  } else if (name == "autodetach") {
    result = libusb_set_auto_detach_kernel_driver(handle, 1);
    std::printf("autodetach %s\n", result == 0 ? "OK" : libusb_error_name(result));
  } else if (name == "driver") {
    result = libusb_kernel_driver_active(handle, 0);
    std::printf("driver %s\n", result >= 0 ? std::to_string(result).c_str()
                                           : libusb_error_name(result));
  } else if (name == "detach") {
    result = libusb_detach_kernel_driver(handle, 0);
    std::printf("detach %s\n", result == 0 ? "OK" : libusb_error_name(result));
  } else if (name == "attach") {
    result = libusb_attach_kernel_driver(handle, 0);
    std::printf("attach %s\n", result == 0 ? "OK" : libusb_error_name(result));
  } else if (name == "status") {
    Status(handle, *value ? static_cast<unsigned>(std::atoi(value)) : 1000);
  } else if (name == "string") {
    GetString(handle, std::atoi(value));
  } else if (name == "write") {
    Write(handle, value);
  } else if (name == "describe") {
    Describe(handle);
  } else if (!RunRawStep(session, name, value)) {
    std::fprintf(stderr, "emu-client: unknown step %s\n", step.c_str());
    return false;
  }
  return true;
}

int RunDevice(int argc, char** argv) {
  libusb_context* context = nullptr;
  const int init = libusb_init(&context);
  if (init != 0) {
    std::printf("init %s\n", libusb_error_name(init));
    return 1;
  }
  const int bus = std::atoi(argv[1]);
  const int address = std::atoi(argv[2]);
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
  Session session{context, Open(context, bus, address), {}, {node, -1, {}, {}}, bus, address, {}};
  int status = 0;
  for (int i = 3; session.handle && i < argc && status == 0; ++i) {
    if (!RunStep(session, argv[i])) status = 1;
  }
  if (session.status_thread.thread.joinable()) session.status_thread.thread.join();
  if (session.raw.fd >= 0) close(session.raw.fd);
  for (const int fd : session.lp_fds) close(fd);
  if (session.handle) libusb_close(session.handle);
  libusb_exit(context);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) return ListUdev();
  if (argc == 3 && std::strcmp(argv[1], "monitor") == 0) return Monitor(std::atoi(argv[2]));
  if (argc >= 3) return RunDevice(argc, argv);
  std::fprintf(stderr, "usage: emu-client list | emu-client monitor COUNT | emu-client BUS DEV STEP...\n");
  return 1;
}
