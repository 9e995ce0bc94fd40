#include "usbfs_device.h"

#include <linux/usb/ch9.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>  // needs sys/ioctl.h first
#include <umockdev.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "usbfs_internal.h"

namespace korvo_emu {

void DataUnref::operator()(UMockdevIoctlData* data) const { g_object_unref(data); }

DataPtr Resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t size) {
  if (size == 0) return nullptr;
  return DataPtr(umockdev_ioctl_data_resolve(parent, offset, size, nullptr));
}

namespace {

// What a current kernel with an xHCI controller offers; no MMAP, which an
// emulation cannot give. Scatter-gather makes libusb send a bulk transfer as one URB.
constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
    USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

constexpr char kStateKey[] = "korvo-emu-state";

template <typename T>
T* As(const DataPtr& data) {
  return reinterpret_cast<T*>(data->data);
}

std::optional<Reply> WithUnsigned(UMockdevIoctlData* arg, auto action) {
  const DataPtr data = Resolve(arg, 0, sizeof(unsigned));
  if (!data) return Fail(EFAULT);
  return action(*As<unsigned>(data));
}

// CLEAR_HALT and RESETEP: the endpoint must exist, and using it claims the interface.
std::optional<Reply> Endpoint(ClientState& state, UMockdevIoctlData* arg) {
  return WithUnsigned(arg, [&state](unsigned endpoint) {
    endpoint &= 0xff;
    if (!IsDeviceEndpoint(endpoint)) return Fail(ENOENT);
    return UseInterface(state);
  });
}

std::optional<Reply> SetInterface(ClientState& state, UMockdevIoctlData* arg) {
  const DataPtr data = Resolve(arg, 0, sizeof(usbdevfs_setinterface));
  if (!data) return Fail(EFAULT);
  const usbdevfs_setinterface& request = *As<usbdevfs_setinterface>(data);
  const Reply claimed = ClaimInterface(state, request.interface);
  if (claimed.result < 0) return claimed;
  return request.altsetting == 0 ? Ok() : Fail(EINVAL);
}

std::optional<Reply> DriverRequest(ClientState& state, unsigned long request,
                                   UMockdevIoctlData* arg, Completions& out) {
  switch (request) {
    case USBDEVFS_GETDRIVER: {
      const DataPtr data = Resolve(arg, 0, sizeof(usbdevfs_getdriver));
      if (!data) return Fail(EFAULT);
      return GetDriver(state, *As<usbdevfs_getdriver>(data));
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
      const DataPtr data = Resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
      if (!data) return Fail(EFAULT);
      return DisconnectClaim(state, *As<usbdevfs_disconnect_claim>(data), out);
    }
    default: {  // USBDEVFS_IOCTL
      const DataPtr data = Resolve(arg, 0, sizeof(usbdevfs_ioctl));
      if (!data) return Fail(EFAULT);
      const usbdevfs_ioctl& command = *As<usbdevfs_ioctl>(data);
      return DriverIoctl(state, command.ifno, command.ioctl_code, out);
    }
  }
}

std::optional<Reply> DeviceRequest(ClientState& state, unsigned long request,
                                   UMockdevIoctlData* arg) {
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      const DataPtr data = Resolve(arg, 0, sizeof(std::uint32_t));
      if (!data) return Fail(EFAULT);
      *As<std::uint32_t>(data) = kCapabilities;
      return Ok();
    }
    case USBDEVFS_CONNECTINFO: {
      const DataPtr data = Resolve(arg, 0, sizeof(usbdevfs_connectinfo));
      if (!data) return Fail(EFAULT);
      As<usbdevfs_connectinfo>(data)->devnum = static_cast<unsigned>(state.device->config.address);
      As<usbdevfs_connectinfo>(data)->slow = 0;
      return Ok();
    }
    case USBDEVFS_GET_SPEED:
      return Ok(USB_SPEED_HIGH);
    case USBDEVFS_SETCONFIGURATION:
      return WithUnsigned(arg, [](unsigned value) {
        return value == kConfigurationValue ? Ok() : Fail(EINVAL);
      });
    default:  // USBDEVFS_RESET: the device comes back as it was
      return Ok();
  }
}

// As usbfs's poll: ready while a URB waits to be reaped on some open file of the
// node, or once the device is gone. Per node, not per file: a second open file
// with URBs unreaped wakes the first one's poll, which then reaps nothing.
void ShowReadiness(DeviceCore& device) {
  const bool ready = device.received.vanished() ||
                     std::any_of(device.clients.begin(), device.clients.end(),
                                 [](const ClientState* state) { return !state->completed.empty(); });
  if (device.ready_fifo < 0 || ready == device.ready) return;
  char byte = 0;
  const ssize_t done = ready ? write(device.ready_fifo, &byte, 1) : read(device.ready_fifo, &byte, 1);
  if (done == 1) device.ready = ready;
}

void TellDriverChange(DeviceCore& device, const std::optional<std::string>& before) {
  std::optional<std::string> now = BoundDriver(device);
  if (now != before && device.driver_changed) device.driver_changed(now);
}

std::optional<Reply> Dispatch(ClientState& state, UMockdevIoctlClient* client,
                              Completions& out) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  // Completed URBs can still be reaped after a disconnect; nothing else works.
  if (request == USBDEVFS_REAPURB) return ReapUrb(state, arg, true);
  if (request == USBDEVFS_REAPURBNDELAY) return ReapUrb(state, arg, false);
  if (state.device->received.vanished()) return Fail(ENODEV);
  switch (request) {
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(state, arg, out);
    case USBDEVFS_DISCARDURB:
      return DiscardUrb(state, *reinterpret_cast<unsigned long*>(arg->data), out);
    case USBDEVFS_CONTROL:
      return SyncControl(state, arg);
    case USBDEVFS_BULK:
      return SyncBulk(state, arg, out);
    case USBDEVFS_CLAIMINTERFACE:
      return WithUnsigned(arg, [&state](unsigned n) { return ClaimInterface(state, n); });
    case USBDEVFS_RELEASEINTERFACE:
      return WithUnsigned(arg, [&](unsigned n) { return ReleaseInterface(state, n, out); });
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_IOCTL:
      return DriverRequest(state, request, arg, out);
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
      return Endpoint(state, arg);
    case USBDEVFS_SETINTERFACE:
      return SetInterface(state, arg);
    case USBDEVFS_GET_CAPABILITIES:
    case USBDEVFS_CONNECTINFO:
    case USBDEVFS_GET_SPEED:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_RESET:
      return DeviceRequest(state, request, arg);
    default:
      return Fail(ENOTTY);
  }
}

void Finish(Completions& out) {
  for (Completion& completion : out) {
    umockdev_ioctl_client_complete(completion.client, completion.reply.result,
                                   completion.reply.error);
    g_object_unref(completion.client);
  }
}

gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer) {
  auto* state = static_cast<ClientState*>(g_object_get_data(G_OBJECT(client), kStateKey));
  if (!state) {  // umockdev announces every client before its first request
    umockdev_ioctl_client_complete(client, -1, EIO);
    return TRUE;
  }
  Completions out;
  std::optional<Reply> reply;
  {
    DeviceCore& device = *state->device;
    const std::lock_guard<std::mutex> lock(device.mutex);
    const std::optional<std::string> before = BoundDriver(device);
    const bool was_gone = device.received.vanished();
    reply = Dispatch(*state, client, out);
    TellDriverChange(device, before);
    ShowReadiness(device);
    if (!was_gone && device.received.vanished() && device.vanished_now) device.vanished_now();
  }
  if (reply) umockdev_ioctl_client_complete(client, reply->result, reply->error);
  Finish(out);
  return TRUE;
}

// The URBs whose time has come, in the order they came, on every open file
// of the device.
gboolean CompleteDue(gpointer data) {
  const std::shared_ptr<DeviceCore> device = static_cast<std::weak_ptr<DeviceCore>*>(data)->lock();
  if (!device) return G_SOURCE_REMOVE;
  Completions out;
  {
    const std::lock_guard<std::mutex> lock(device->mutex);
    const std::int64_t now = g_get_monotonic_time();
    for (ClientState* state : device->clients) {
      std::vector<Urb>& in_flight = state->in_flight;
      for (auto urb = in_flight.begin(); urb != in_flight.end();) {
        if (urb->due == 0 || urb->due > now) {
          ++urb;
          continue;
        }
        Urb done = std::move(*urb);
        urb = in_flight.erase(urb);
        CompleteUrb(*state, std::move(done), out);
      }
    }
    ShowReadiness(*device);
  }
  Finish(out);
  return G_SOURCE_REMOVE;
}

void ForgetDevice(gpointer data) { delete static_cast<std::weak_ptr<DeviceCore>*>(data); }

// The program closed the file: the kernel drops its URBs and its claim.
void Forget(ClientState& state) {
  if (state.gone) return;
  state.gone = true;
  const std::optional<std::string> before = BoundDriver(*state.device);
  ForgetClaim(state);
  TellDriverChange(*state.device, before);
  DropUrbs(state);
  std::vector<ClientState*>& clients = state.device->clients;
  clients.erase(std::remove(clients.begin(), clients.end(), &state), clients.end());
  ShowReadiness(*state.device);
}

void ConnectionChanged(UMockdevIoctlClient* client, GParamSpec*, gpointer data) {
  auto* state = static_cast<ClientState*>(data);
  if (umockdev_ioctl_client_get_connected(client)) return;
  const std::lock_guard<std::mutex> lock(state->device->mutex);
  Forget(*state);
}

void DeleteState(gpointer data) {
  auto* state = static_cast<ClientState*>(data);
  {
    const std::lock_guard<std::mutex> lock(state->device->mutex);
    Forget(*state);
  }
  delete state;
}

void ClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  const std::shared_ptr<DeviceCore>& device = *static_cast<std::shared_ptr<DeviceCore>*>(data);
  auto* state = new ClientState;
  state->device = device;
  state->client = client;
  g_object_set_data_full(G_OBJECT(client), kStateKey, state, DeleteState);
  g_signal_connect(client, "notify::connected", G_CALLBACK(ConnectionChanged), state);
  const std::lock_guard<std::mutex> lock(device->mutex);
  device->clients.push_back(state);
  device->received.Opened();
}

}  // namespace

void CompleteWhenDue(ClientState& state, Urb urb) {
  const std::int64_t wait = std::max<std::int64_t>(0, urb.due - g_get_monotonic_time());
  state.in_flight.push_back(std::move(urb));
  // On umockdev's thread, which runs the requests too; a URB discarded or
  // ended meanwhile is no longer in flight when the time comes.
  GSource* source = g_timeout_source_new(static_cast<guint>((wait + 999) / 1000));
  g_source_set_callback(source, CompleteDue, new std::weak_ptr<DeviceCore>(state.device),
                        ForgetDevice);
  g_source_attach(source, g_main_context_get_thread_default());
  g_source_unref(source);
}

UsbfsDevice::UsbfsDevice(const DeviceConfig& config, std::optional<std::string> capture_path)
    : core_(std::make_shared<DeviceCore>(config, std::move(capture_path))),
      handler_(umockdev_ioctl_base_new()) {
  g_signal_connect(handler_, "client-connected", G_CALLBACK(ClientConnected), &core_);
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(HandleIoctl), nullptr);
}

UsbfsDevice::~UsbfsDevice() {
  g_signal_handlers_disconnect_by_data(handler_, &core_);
  g_object_unref(handler_);
  if (core_->ready_fifo >= 0) close(core_->ready_fifo);
}

bool UsbfsDevice::ShowReadinessIn(const std::string& fifo_path, std::string& error) {
  gchar* dir = g_path_get_dirname(fifo_path.c_str());
  const int made = g_mkdir_with_parents(dir, 0755);
  g_free(dir);
  // Read and write: the FIFO never has no writer, so its readers never see a hang-up.
  if (made != 0 || mkfifo(fifo_path.c_str(), 0644) != 0 ||
      (core_->ready_fifo = open(fifo_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0) {
    error = "cannot make " + fifo_path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::optional<std::string> UsbfsDevice::Summary() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->received.Summary();
}

std::optional<std::string> UsbfsDevice::DriverSummary() const {
  if (!core_->config.driver) return std::nullopt;
  const std::lock_guard<std::mutex> lock(core_->mutex);
  char device[16];
  std::snprintf(device, sizeof device, "%03d/%03d", core_->config.bus, core_->config.address);
  return std::string(device) + " driver " + BoundDriver(*core_).value_or("none");
}

void UsbfsDevice::CommandEnded() {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const std::vector<ClientState*> open_files = core_->clients;  // Forget edits the list
  for (ClientState* state : open_files) Forget(*state);
}

void UsbfsDevice::OnDriverChange(DriverChange changed) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->driver_changed = std::move(changed);
}

void UsbfsDevice::OnVanish(std::function<void()> vanished) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->vanished_now = std::move(vanished);
}

std::optional<std::string> UsbfsDevice::BindDriver() {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  if (BoundDriver(*core_) || core_->received.vanished()) return std::nullopt;
  core_->kernel_driver = core_->config.driver;
  TellDriverChange(*core_, std::nullopt);
  return core_->kernel_driver;
}

std::optional<std::string> UsbfsDevice::Unplug() {
  Completions out;
  std::optional<std::string> before;
  {
    const std::lock_guard<std::mutex> lock(core_->mutex);
    before = BoundDriver(*core_);
    core_->received.Unplug();
    Disconnect(*core_, out);
    TellDriverChange(*core_, before);
    ShowReadiness(*core_);
  }
  Finish(out);
  return before;
}

}  // namespace korvo_emu
