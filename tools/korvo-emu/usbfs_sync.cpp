// The synchronous USBDEVFS_CONTROL and USBDEVFS_BULK ioctls. libusb uses the
// first to read the active configuration when sysfs is missing; korvo-emu
// answers both as the kernel would.
#include <glib.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>  // needs sys/ioctl.h first
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "usbfs_internal.h"

namespace korvo_emu {
namespace {

// A request waiting for its timeout holds a reference on the client: dropping
// the last one closes the program's connection and kills the program.
struct Waiter {
  UMockdevIoctlClient* client;
  std::shared_ptr<DeviceCore> device;
  bool completed = false;
};

gboolean TimeOut(gpointer data) {
  Waiter& waiter = *static_cast<Waiter*>(data);
  bool vanished = false;
  {
    const std::lock_guard<std::mutex> lock(waiter.device->mutex);
    vanished = waiter.device->received.vanished();
  }
  umockdev_ioctl_client_complete(waiter.client, -1, vanished ? ENODEV : ETIMEDOUT);
  waiter.completed = true;
  return G_SOURCE_REMOVE;
}

void FreeWaiter(gpointer data) {
  Waiter* waiter = static_cast<Waiter*>(data);
  // Still waiting when the testbed goes: korvo-emu is ending, and freeing a client
  // with a request open only draws umockdev's complaint.
  if (waiter->completed) g_object_unref(waiter->client);
  delete waiter;
}

// The device does not answer: the request ends when the program's timeout runs
// out, and with no timeout never, as on Linux.
std::optional<Reply> Unanswered(ClientState& state, unsigned timeout_ms) {
  g_object_ref(state.client);
  if (timeout_ms == 0) return std::nullopt;  // the reference stays until korvo-emu ends
  GSource* source = g_timeout_source_new(timeout_ms);
  g_source_set_callback(
      source, TimeOut,
      new Waiter{state.client, state.device},
      FreeWaiter);
  // umockdev's worker thread runs this context.
  GMainContext* context = g_main_context_ref_thread_default();
  g_source_attach(source, context);
  g_main_context_unref(context);
  g_source_unref(source);
  return std::nullopt;
}

}  // namespace

std::optional<Reply> SyncControl(ClientState& state, UMockdevIoctlData* arg) {
  const DataPtr request = Resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
  if (!request) return Fail(EFAULT);
  const usbdevfs_ctrltransfer& fields =
      *reinterpret_cast<const usbdevfs_ctrltransfer*>(request->data);
  const SetupPacket setup{fields.bRequestType, fields.bRequest, fields.wValue, fields.wIndex,
                          fields.wLength};
  const Reply recipient = CheckRecipient(state, setup);
  if (recipient.result < 0) return recipient;
  if (setup.length > kMaxControlData) return Fail(EINVAL);
  if (state.device->config.hang) return Unanswered(state, fields.timeout);
  const ControlAnswer answer = AnswerControl(state.device->config, setup);
  if (answer.stall) return Fail(EPIPE);
  if ((setup.request_type & 0x80) == 0) return Ok(setup.length);
  if (!answer.data.empty()) {
    const DataPtr data = Resolve(request.get(), offsetof(usbdevfs_ctrltransfer, data),
                                 setup.length);
    if (!data) return Fail(EFAULT);
    std::memcpy(data->data, answer.data.data(), answer.data.size());
  }
  return Ok(static_cast<long>(answer.data.size()));
}

std::optional<Reply> SyncBulk(ClientState& state, UMockdevIoctlData* arg, Completions& out) {
  const DataPtr request = Resolve(arg, 0, sizeof(usbdevfs_bulktransfer));
  if (!request) return Fail(EFAULT);
  const usbdevfs_bulktransfer& fields =
      *reinterpret_cast<const usbdevfs_bulktransfer*>(request->data);
  const unsigned endpoint = fields.ep & 0xff;
  if (!IsDeviceEndpoint(endpoint)) return Fail(ENOENT);
  const Reply claimed = UseInterface(state);
  if (claimed.result < 0) return claimed;
  if (!ChargeMemory(fields.len)) return Fail(ENOMEM);
  ReleaseMemory(fields.len);  // held only while the call runs
  DeviceCore& device = *state.device;
  if (endpoint == kBulkInEndpoint || device.config.hang) return Unanswered(state, fields.timeout);
  const DataPtr data = Resolve(request.get(), offsetof(usbdevfs_bulktransfer, data), fields.len);
  if (fields.len > 0 && !data) return Fail(EFAULT);
  const std::size_t taken = device.received.Take(data ? data->data : nullptr, fields.len);
  if (device.received.vanished()) Disconnect(device, out);
  return taken < fields.len ? Fail(ENODEV) : Ok(static_cast<long>(taken));
}

}  // namespace korvo_emu
