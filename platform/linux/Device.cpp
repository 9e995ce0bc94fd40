// The device channel on Linux: the device's usbfs node, wrapped by libusb.
// The open claims the device's printer interface (or the first one it can
// write to), which makes it exclusive: a second claim on the same interface
// fails with EBUSY.
//
// The interface is never taken from a kernel driver that serves someone
// else (usb-storage, a network or Bluetooth driver...): the open fails with
// EBUSY and the device sees no request at all. The one exception is usblp,
// the printer driver, and only while the tool holds its lp node, which usblp
// lets one program open at a time: a printer in use stays with its user.
// usblp is bound again when the device is closed, on the exits that do not
// pass through CloseDevice (Signals.cpp), and by a guardian process on the
// ones no handler sees (SIGKILL, the out-of-memory killer).
//
// One korvo-test at a time works on a device: each holds an flock on the
// usbfs node from before it looks at the driver until the driver is back
// (on a file of its own, which never holds a claim).
// Without it, a second run could claim the interface in the moment the first
// had released it, see no driver, and give nothing back.
#include "platform/Device.h"

#include <fcntl.h>
#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "platform/linux/Linux.h"

namespace korvo {

struct Device {
  int fd;                         // the usbfs node; libusb does not close it
  int lockFd;                     // the node again, locked; the guardian holds it too
  libusb_device_handle* handle;
  uint8_t interfaceNumber;        // of the claimed interface
  uint8_t bulkOut;                // its bulk OUT endpoint address
  int lpFd;                       // usblp's node, held while usblp is moved aside; else -1
  int guard;                      // the exit action that gives the claim back
  int guardianPipe;               // the guardian's pipe (write end), while it runs; else -1
  pid_t guardian;
};

namespace {

constexpr uint8_t kPrinterClass = 7;
// The printer driver: the only one the tool ever moves aside.
constexpr char kUsblpDriver[] = "usblp";

// USB printer class GET_PORT_STATUS: class request to the interface, device
// to host, one status byte.
constexpr uint8_t kGetPortStatusRequestType = 0xA1;  // IN | CLASS | INTERFACE
constexpr uint8_t kGetPortStatus = 1;
// As the kernel's printer driver waits for its control requests.
constexpr unsigned kStatusTimeoutMs = 5000;

// usbfs refuses a single transfer over its limit (16 MiB by default).
constexpr uint64_t kWriteChunk = 1024 * 1024;

// What the guardian hears on its pipe.
constexpr char kWillDetach = 'u';  // usblp is about to be moved aside
constexpr char kGivenBack = 'd';   // everything is given back: nothing to do

// What the last open found, and the driver bound to the chosen interface
// ("usbfs": a program's claim), which says who holds a busy device.
OpenFailure g_found;
std::string g_driver;

// usblp is bound without a node for its interface: the tool cannot tell
// whether somebody prints, so it leaves usblp alone.
constexpr char kNoLpNode[] =
    "usblp drives the printer but shows no node /dev/usb/lp* for it, so nobody can tell "
    "whether it is printing: the tool leaves usblp alone";

int ErrnoFromUsbError(int usbError) {
  switch (usbError) {
    case LIBUSB_ERROR_IO: return EIO;
    case LIBUSB_ERROR_INVALID_PARAM: return EINVAL;
    case LIBUSB_ERROR_ACCESS: return EACCES;
    case LIBUSB_ERROR_NO_DEVICE: return ENODEV;
    case LIBUSB_ERROR_NOT_FOUND: return ENOENT;
    case LIBUSB_ERROR_BUSY: return EBUSY;
    case LIBUSB_ERROR_TIMEOUT: return ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW: return EOVERFLOW;
    case LIBUSB_ERROR_PIPE: return EPIPE;
    case LIBUSB_ERROR_INTERRUPTED: return EINTR;
    case LIBUSB_ERROR_NO_MEM: return ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED: return EOPNOTSUPP;
    default: return EIO;
  }
}

bool Fail(int usbError) {  // libusb's error as errno, and false
  errno = ErrnoFromUsbError(usbError);
  return false;
}

// usbfs requests on the node: plain system calls, safe in a signal handler.
int Ioctl(int fd, unsigned long request, void* argument) {
  int r;
  do {
    r = ioctl(fd, request, argument);
  } while (r < 0 && errno == EINTR);
  return r;
}

// True with the driver's name in *name ("" when none is bound; "usbfs" when
// a program has claimed the interface), false with errno set.
bool BoundDriver(int fd, uint8_t interfaceNumber, std::string* name) {
  usbdevfs_getdriver request = {};
  request.interface = interfaceNumber;
  if (Ioctl(fd, USBDEVFS_GETDRIVER, &request) == 0) {
    request.driver[sizeof request.driver - 1] = '\0';
    *name = request.driver;
    return true;
  }
  if (errno != ENODATA) return false;
  name->clear();
  return true;
}

// Moves usblp aside and claims the interface for this file in one step; fails
// with errno set (EBUSY when another driver took its place) and changes
// nothing when usblp is not the driver bound.
bool DetachUsblpAndClaim(int fd, uint8_t interfaceNumber) {
  usbdevfs_disconnect_claim request = {};
  request.interface = interfaceNumber;
  request.flags = USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER;
  static_assert(sizeof kUsblpDriver <= sizeof request.driver);
  std::memcpy(request.driver, kUsblpDriver, sizeof kUsblpDriver);
  return Ioctl(fd, USBDEVFS_DISCONNECT_CLAIM, &request) == 0;
}

// Lets the kernel bind its driver to the interface again, once this file has
// released it. Nothing is left to do when that fails, so nothing is said.
void ReattachDriver(int fd, uint8_t interfaceNumber) {
  int saved = errno;
  usbdevfs_ioctl connect = {};
  connect.ifno = interfaceNumber;
  connect.ioctl_code = USBDEVFS_CONNECT;
  connect.data = nullptr;
  Ioctl(fd, USBDEVFS_IOCTL, &connect);
  errno = saved;
}

// Releases this file's claim on the interface, which also ends its transfers
// in flight, and, with `reattach`, gives the kernel's driver back.
void ReleaseInterface(int fd, uint8_t interfaceNumber, bool reattach) {
  int saved = errno;
  unsigned int number = interfaceNumber;
  Ioctl(fd, USBDEVFS_RELEASEINTERFACE, &number);
  if (reattach) ReattachDriver(fd, interfaceNumber);
  errno = saved;
}

// The guardian: a process of its own, started before usblp is moved aside,
// that holds the lock's file (never the claim) and waits on a pipe only the
// tool writes. Told the driver is back, it ends; at end of file without it,
// the tool has ended in a way nothing could catch, and the guardian binds
// usblp again once the tool's claim has gone with its file. Nobody else can
// take the device meanwhile: the lock is still held. It has a session of its
// own, so neither the terminal's signals nor a kill of the tool's process
// group (timeout(1), a CI runner) reach it, and only system calls: it is a
// fork of a process with threads.
[[noreturn]] void Guard(const int pipe[2], const Device& device) {
  setsid();
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  prctl(PR_SET_NAME, "korvo-guardian");
  // The tool's output stays open no longer than the tool (a reader waits for
  // its end), nor do usblp's node and the claiming file; the pipe's write end
  // is the tool's alone.
  for (int fd : {0, 1, 2, device.lpFd, device.fd, pipe[1]}) close(fd);

  bool detaching = false;
  char message = 0;
  for (;;) {
    ssize_t n = read(pipe[0], &message, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1 || message == kGivenBack) break;
    detaching = message == kWillDetach;
  }
  // The tool's files close as it ends, the claim's perhaps after the pipe's:
  // usbfs bound means the claim is still there, for a moment.
  std::string driver = "usbfs";
  for (int wait = 0; message != kGivenBack && detaching && wait < 200 && driver == "usbfs"; ++wait) {
    if (!BoundDriver(device.lockFd, device.interfaceNumber, &driver)) break;
    if (driver.empty()) ReattachDriver(device.lockFd, device.interfaceNumber);
    if (driver == "usbfs") usleep(5000);
  }
  _exit(0);
}

bool StartGuardian(Device& device) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) Guard(ends, device);
  int error = errno;
  close(ends[0]);
  if (pid < 0) {
    close(ends[1]);
    errno = error;
    return false;
  }
  device.guardianPipe = ends[1];
  device.guardian = pid;
  return true;
}

void TellGuardian(const Device& device, char message) {
  while (write(device.guardianPipe, &message, 1) < 0 && errno == EINTR) {
  }
}

// The guardian's work is done: it ends, and is waited for, so that it holds
// the node and its lock no longer than the tool. Safe in a signal handler.
void EndGuardian(const Device& device) {
  if (device.guardianPipe < 0) return;
  int saved = errno;
  TellGuardian(device, kGivenBack);
  close(device.guardianPipe);
  while (waitpid(device.guardian, nullptr, 0) < 0 && errno == EINTR) {
  }
  errno = saved;
}

// The exit action: the claim and the driver back, as CloseDevice would.
void GiveBackOnExit(void* argument) {
  const Device& device = *static_cast<const Device*>(argument);
  ReleaseInterface(device.fd, device.interfaceNumber, device.lpFd >= 0);
  EndGuardian(device);
}

struct Choice {
  uint8_t interfaceNumber;
  uint8_t alternateSetting;
  uint8_t bulkOut;
};

std::optional<uint8_t> BulkOutOf(const libusb_interface_descriptor& setting) {
  for (int e = 0; e < setting.bNumEndpoints; ++e) {
    const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
    if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK &&
        (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_OUT) {
      return endpoint.bEndpointAddress;
    }
  }
  return std::nullopt;
}

// The first printer-class setting with a bulk OUT endpoint, else the first
// setting of any class with one.
std::optional<Choice> ChooseInterface(const libusb_config_descriptor& config) {
  std::optional<Choice> any;
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface& interface = config.interface[i];
    for (int a = 0; a < interface.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = interface.altsetting[a];
      std::optional<uint8_t> bulkOut = BulkOutOf(setting);
      if (!bulkOut) continue;
      Choice choice{setting.bInterfaceNumber, setting.bAlternateSetting, *bulkOut};
      if (setting.bInterfaceClass == kPrinterClass) return choice;
      if (!any) any = choice;
    }
  }
  return any;
}

bool MatchesIds(libusb_device_handle* handle, const UsbDevicePath& ids) {
  libusb_device_descriptor descriptor;
  int r = libusb_get_device_descriptor(libusb_get_device(handle), &descriptor);
  if (r != LIBUSB_SUCCESS) return Fail(r);
  // The node number may have gone to another device since discovery.
  if (descriptor.idVendor != ids.vendor || descriptor.idProduct != ids.product) {
    errno = ENODEV;
    return false;
  }
  return true;
}

bool FindInterface(libusb_device_handle* handle, Choice* choice) {
  libusb_config_descriptor* config = nullptr;
  int r = libusb_get_active_config_descriptor(libusb_get_device(handle), &config);
  if (r != LIBUSB_SUCCESS) return Fail(r);
  std::optional<Choice> found = ChooseInterface(*config);
  libusb_free_config_descriptor(config);
  if (!found) {
    g_found.advice = "the device has no interface that takes raw data (a bulk OUT endpoint)";
    errno = EOPNOTSUPP;
    return false;
  }
  *choice = *found;
  return true;
}

// Takes the interface from the kernel: free, it is claimed; bound to usblp,
// usblp is moved aside while the tool holds its lp node, with a guardian
// started first; bound to any other driver, or claimed by another program,
// it is left alone (EBUSY). Where a node other than the usbfs node refuses,
// or a refusal needs words of its own, the open's record says so.
bool TakeInterface(Device& device, const std::string& node) {
  if (!BoundDriver(device.fd, device.interfaceNumber, &g_driver)) return false;
  if (g_driver.empty()) return true;
  if (g_driver != kUsblpDriver) {
    errno = EBUSY;
    return false;
  }
  // usblp lets one program at a time open its node: EBUSY while another
  // program prints through it.
  std::optional<std::string> lpNode = FindLpNode(node, device.interfaceNumber);
  if (!lpNode) {
    g_found.advice = kNoLpNode;
    errno = ENOENT;
    return false;
  }
  device.lpFd = open(lpNode->c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (device.lpFd < 0) {
    g_found.node = *lpNode;
    if (errno == ENOENT) g_found.advice = kNoLpNode;
    return false;
  }
  if (StartGuardian(device)) {
    TellGuardian(device, kWillDetach);
    if (DetachUsblpAndClaim(device.fd, device.interfaceNumber)) return true;
  }
  int error = errno;
  EndGuardian(device);
  device.guardianPipe = -1;
  close(device.lpFd);
  device.lpFd = -1;
  errno = error;
  return false;
}

// Gives the claimed interface back, and usblp with it if it was moved aside.
void GiveBack(Device& device) {
  SignalHold hold;
  DisarmExitAction(device.guard);
  // Released through usbfs: libusb does not know of a claim made with the detach.
  ReleaseInterface(device.fd, device.interfaceNumber, device.lpFd >= 0);
  EndGuardian(device);
  device.guardianPipe = -1;
  if (device.lpFd >= 0) close(device.lpFd);
  device.lpFd = -1;
}

// Claims the chosen interface and selects its setting, on the device's
// final place in memory (the exit action keeps a pointer to it). On failure
// nothing stays claimed and usblp, if it was moved aside, is bound again.
bool Claim(Device& device, const std::string& node, uint8_t alternateSetting) {
  {
    // No signal may end the process between the detach and the armed give-back.
    SignalHold hold;
    if (!TakeInterface(device, node)) return false;
    device.guard = ArmExitAction(GiveBackOnExit, &device);
  }
  // With usblp moved aside the claim is already made; this tells libusb.
  int r = libusb_claim_interface(device.handle, device.interfaceNumber);
  if (r == LIBUSB_SUCCESS && alternateSetting != 0) {
    r = libusb_set_interface_alt_setting(device.handle, device.interfaceNumber, alternateSetting);
  }
  if (r == LIBUSB_SUCCESS) return true;
  GiveBack(device);
  return Fail(r);
}

Device* OpenLocked(const UsbDevicePath& target, int lockFd) {
  int fd = open(target.node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;

  libusb_device_handle* handle = nullptr;
  int r = libusb_wrap_sys_device(UsbContext(), fd, &handle);
  if (r != LIBUSB_SUCCESS) {
    close(fd);
    errno = ErrnoFromUsbError(r);
    return nullptr;
  }

  Choice choice{};
  if (MatchesIds(handle, target) && FindInterface(handle, &choice)) {
    Device* device = new (std::nothrow)
        Device{fd, lockFd, handle, choice.interfaceNumber, choice.bulkOut, -1, -1, -1, 0};
    if (!device) errno = ENOMEM;
    if (device && Claim(*device, target.node, choice.alternateSetting)) return device;
    delete device;
  }

  int error = errno;
  libusb_close(handle);
  close(fd);
  errno = error;
  return nullptr;
}

Device* OpenNode(const UsbDevicePath& target) {
  int lockFd = open(target.node.c_str(), O_RDWR | O_CLOEXEC);
  if (lockFd < 0) return nullptr;
  Device* device = nullptr;
  if (flock(lockFd, LOCK_EX | LOCK_NB) == 0) {
    device = OpenLocked(target, lockFd);
  } else if (errno == EWOULDBLOCK) {
    // Another korvo-test, which may have moved usblp aside.
    g_found.advice = "another korvo-test is testing the device";
    errno = EBUSY;
  }
  if (device) return device;
  int error = errno;
  close(lockFd);
  errno = error;
  return nullptr;
}

// Who holds a busy interface, in the operator's terms.
std::string Holder(const std::string& driver) {
  if (driver == "usbfs") return "another program holds the device (claimed through usbfs)";
  // usblp is moved aside only while nobody prints through its node.
  if (driver == kUsblpDriver) return "another program is printing through the printer's node";
  if (!driver.empty()) return "the kernel driver '" + driver + "' holds the device";
  return "another program or a kernel driver holds the device";
}

// The udev rule that the install puts in place, and the command that makes
// a running udev apply it to devices already plugged in.
std::string RuleAdvice() {
  constexpr const char* kRule = "70-korvo-test.rules";
  // The folders udev reads rules from.
  constexpr const char* kFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                      "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                      "/lib/udev/rules.d"};
  const std::string gives = std::string("the udev rule ") + kRule +
                            " gives operators (the user at the seat, group plugdev) access to "
                            "KORVO devices; ";
  for (const char* folder : kFolders) {
    if (access((std::string(folder) + "/" + kRule).c_str(), F_OK) == 0) {
      return gives + "it is installed: run udevadm control --reload && udevadm trigger, "
                     "or plug the device in again";
    }
  }
  return gives + "install it, then run: udevadm control --reload && udevadm trigger";
}

}  // namespace

Device* OpenDevice(const std::string& path) {
  g_driver.clear();
  std::optional<UsbDevicePath> target = ParseDevicePath(path);
  const std::string usbfsNode = target ? target->node : path;
  g_found = {usbfsNode, 0, false, ""};
  errno = target ? ENODEV : ENOENT;  // no context, or not one of our paths
  Device* device = target && UsbContext() ? OpenNode(*target) : nullptr;
  if (device) return device;
  g_found.error = errno;
  if (!g_found.advice.empty()) return nullptr;  // said where it was found
  g_found.gone = (errno == ENODEV || errno == ENOENT) && g_found.node == usbfsNode;
  if (errno == EACCES || errno == EPERM) g_found.advice = RuleAdvice();
  if (errno == EBUSY) g_found.advice = Holder(g_driver);
  return nullptr;
}

const OpenFailure& LastOpenFailure() { return g_found; }

// The request has no input on USB; `input` is not sent. Both it and the
// writes may come from two threads at once: libusb takes care of that.
bool QueryPortStatus(Device* device, const void* input, uint32_t inputLength, void* reply,
                     uint32_t replyLength, uint32_t* replyCount) {
  (void)input;
  (void)inputLength;
  unsigned char status = 0;
  uint16_t wanted = replyLength > 0 ? 1 : 0;
  int r = libusb_control_transfer(device->handle, kGetPortStatusRequestType, kGetPortStatus, 0,
                                  device->interfaceNumber, &status, wanted, kStatusTimeoutMs);
  if (r < 0) return Fail(r);
  // A failed request leaves the caller's reply as it was.
  if (r > 0) static_cast<unsigned char*>(reply)[0] = status;
  *replyCount = static_cast<uint32_t>(r);
  return true;
}

bool WriteDevice(Device* device, const void* data, uint64_t length, uint64_t* written,
                 WriteProgress* progress, unsigned stallSeconds) {
  unsigned char* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
  // Each chunk may take that long; 0, libusb's "no time-out", lets a printer
  // out of paper hold a write for as long as it takes.
  const auto timeoutMs =
      static_cast<unsigned>(std::min<uint64_t>(uint64_t{stallSeconds} * 1000, UINT_MAX));
  *written = 0;
  while (*written < length) {
    int chunk = static_cast<int>(std::min(length - *written, kWriteChunk));
    int transferred = 0;
    // On a time-out libusb has cancelled the transfer and reaped it before it
    // returns: nothing stays in flight, and `transferred` counts what the
    // device took before the cancel.
    int r = libusb_bulk_transfer(device->handle, device->bulkOut, bytes + *written, chunk,
                                 &transferred, timeoutMs);
    *written += static_cast<uint64_t>(transferred);
    // A chunk that moved some bytes before its time ran out made progress:
    // the rest goes on from there.
    if (r == LIBUSB_ERROR_TIMEOUT && transferred > 0) r = LIBUSB_SUCCESS;
    if (r != LIBUSB_SUCCESS) return Fail(r);
    if (transferred == 0) {  // no progress and no error: do not spin
      errno = EIO;
      return false;
    }
    if (progress) progress->Sent(*written);
  }
  return true;
}

void CloseDevice(Device* device) {
  GiveBack(*device);
  libusb_close(device->handle);
  close(device->fd);
  close(device->lockFd);  // the lock goes last
  delete device;
}

}  // namespace korvo
