// Asynchronous transfers (URBs), the way libusb talks to a device: SUBMITURB
// hands one over, the device completes it, REAPURB(NDELAY) gives it back with
// its status; DISCARDURB cancels one still in flight.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>  // needs sys/ioctl.h first
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

#include "usbfs_internal.h"

namespace korvo_emu {
namespace {

constexpr std::size_t kBufferOffset = offsetof(usbdevfs_urb, buffer);

usbdevfs_urb& Fields(const Urb& urb) { return *reinterpret_cast<usbdevfs_urb*>(urb.data->data); }

// The kernel's checks before a URB is queued.
Reply CheckBulk(ClientState& state, const usbdevfs_urb& urb) {
  if (!IsDeviceEndpoint(urb.endpoint)) return Fail(ENOENT);
  const Reply claimed = UseInterface(state);
  if (claimed.result < 0) return claimed;
  if (urb.type != USBDEVFS_URB_TYPE_BULK) return Fail(EINVAL);  // bulk endpoints only
  return Ok();
}

Reply SubmitControl(ClientState& state, Urb urb, Completions& out) {
  const usbdevfs_urb& fields = Fields(urb);
  if ((fields.endpoint & 0x7f) != 0) return Fail(IsDeviceEndpoint(fields.endpoint) ? EINVAL : ENOENT);
  const std::size_t length = static_cast<std::size_t>(fields.buffer_length);
  if (length < kSetupSize) return Fail(EINVAL);
  const DataPtr buffer = Resolve(urb.data.get(), kBufferOffset, length);
  if (!buffer) return Fail(EFAULT);
  const SetupPacket setup = ParseSetup(buffer->data);
  const Reply recipient = CheckRecipient(state, setup);
  if (recipient.result < 0) return recipient;
  if (setup.length > length - kSetupSize || setup.length > kMaxControlData) return Fail(EINVAL);
  if (!ChargeMemory(length)) return Fail(ENOMEM);
  urb.charge = length;
  if (state.device->config.hang) {
    state.in_flight.push_back(std::move(urb));
    return Ok();
  }
  ControlAnswer answer = AnswerControl(state.device->config, setup);
  const bool device_to_host = (setup.request_type & 0x80) != 0;
  urb.status = answer.stall ? -EPIPE : 0;
  urb.actual_length =
      answer.stall ? 0 : static_cast<int>(device_to_host ? answer.data.size() : setup.length);
  urb.reply = std::move(answer.data);
  urb.reply_offset = kSetupSize;
  CompleteUrb(state, std::move(urb), out);
  return Ok();
}

Reply SubmitBulk(ClientState& state, Urb urb, Completions& out) {
  const usbdevfs_urb& fields = Fields(urb);
  const Reply checked = CheckBulk(state, fields);
  if (checked.result < 0) return checked;
  const std::size_t length = static_cast<std::size_t>(fields.buffer_length);
  if (!ChargeMemory(length)) return Fail(ENOMEM);
  urb.charge = length;
  urb.on_interface = true;
  DeviceCore& device = *state.device;
  // Nothing ever comes back on bulk IN; a hanging device takes nothing either.
  if (fields.endpoint == kBulkInEndpoint || device.config.hang || device.config.hold_writes) {
    state.in_flight.push_back(std::move(urb));
    return Ok();
  }
  const DataPtr buffer = Resolve(urb.data.get(), kBufferOffset, length);
  if (length > 0 && !buffer) {
    ReleaseMemory(urb.charge);
    return Fail(EFAULT);
  }
  // The pause: the bytes before it go through, then the transfer holds.
  if (device.pause_in && length > *device.pause_in) {
    urb.actual_length = static_cast<int>(
        device.received.Take(buffer ? buffer->data : nullptr, static_cast<std::size_t>(*device.pause_in)));
    device.pause_in.reset();
    state.in_flight.push_back(std::move(urb));
    return Ok();
  }
  const std::size_t taken = device.received.Take(buffer ? buffer->data : nullptr, length);
  if (device.pause_in) *device.pause_in -= taken;
  urb.actual_length = static_cast<int>(taken);
  urb.status = taken < length ? -ENODEV : 0;
  // A slow device: the bytes take their time to go through, one transfer
  // after the other; other devices go on meanwhile.
  if (device.config.bulk_rate && taken > 0 && !device.received.vanished()) {
    const double micros =
        static_cast<double>(taken) * 1e6 / static_cast<double>(*device.config.bulk_rate);
    device.busy_until =
        std::max(device.busy_until, g_get_monotonic_time()) + static_cast<std::int64_t>(micros);
    urb.due = device.busy_until;
    CompleteWhenDue(state, std::move(urb));
    return Ok();
  }
  CompleteUrb(state, std::move(urb), out);
  if (device.received.vanished()) Disconnect(device, out);
  return Ok();
}

// Hands a completed URB back to the program in the pointer `arg` points to.
Reply Deliver(Urb urb, UMockdevIoctlData* arg) {
  usbdevfs_urb& fields = Fields(urb);
  fields.status = urb.status;
  fields.actual_length = urb.actual_length;
  Reply reply = Ok();
  if (!urb.reply.empty()) {
    const DataPtr buffer =
        Resolve(urb.data.get(), kBufferOffset, static_cast<std::size_t>(fields.buffer_length));
    if (buffer) std::memcpy(buffer->data + urb.reply_offset, urb.reply.data(), urb.reply.size());
  }
  const DataPtr slot = Resolve(arg, 0, sizeof(void*));
  if (slot) umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.data.get());
  else reply = Fail(EFAULT);
  ReleaseMemory(urb.charge);
  return reply;
}

void EndInFlight(ClientState& state, int status, bool interface_only, Completions& out) {
  std::vector<Urb> ending;
  auto keep = std::stable_partition(state.in_flight.begin(), state.in_flight.end(),
                                    [interface_only](const Urb& urb) {
                                      return interface_only && !urb.on_interface;
                                    });
  std::move(keep, state.in_flight.end(), std::back_inserter(ending));
  state.in_flight.erase(keep, state.in_flight.end());
  for (Urb& urb : ending) {
    urb.status = status;
    CompleteUrb(state, std::move(urb), out);
  }
}

}  // namespace

Reply SubmitUrb(ClientState& state, UMockdevIoctlData* arg, Completions& out) {
  Urb urb;
  urb.data = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (!urb.data) return Fail(EFAULT);
  const usbdevfs_urb& fields = Fields(urb);
  if (fields.buffer_length < 0) return Fail(EINVAL);
  urb.address = urb.data->client_addr;
  if (fields.type == USBDEVFS_URB_TYPE_CONTROL) return SubmitControl(state, std::move(urb), out);
  return SubmitBulk(state, std::move(urb), out);
}

Reply DiscardUrb(ClientState& state, unsigned long address, Completions& out) {
  auto found = std::find_if(state.in_flight.begin(), state.in_flight.end(),
                            [address](const Urb& urb) { return urb.address == address; });
  // Completed or unknown URBs cannot be discarded; the program reaps them.
  if (found == state.in_flight.end()) return Fail(EINVAL);
  Urb urb = std::move(*found);
  state.in_flight.erase(found);
  urb.status = -ECONNRESET;  // with what it took before, as the kernel reports it
  CompleteUrb(state, std::move(urb), out);
  return Ok();
}

std::optional<Reply> ReapUrb(ClientState& state, UMockdevIoctlData* arg, bool wait) {
  if (!state.completed.empty()) {
    Urb urb = std::move(state.completed.front());
    state.completed.pop_front();
    return Deliver(std::move(urb), arg);
  }
  if (state.device->received.vanished()) return Fail(ENODEV);
  if (!wait) return Fail(EAGAIN);
  state.parked = static_cast<UMockdevIoctlClient*>(g_object_ref(state.client));
  return std::nullopt;
}

void CompleteUrb(ClientState& state, Urb urb, Completions& out) {
  if (!state.parked) {
    state.completed.push_back(std::move(urb));
    return;
  }
  const Reply reply = Deliver(std::move(urb), umockdev_ioctl_client_get_arg(state.parked));
  out.push_back(Completion{std::exchange(state.parked, nullptr), reply});
}

void Disconnect(DeviceCore& device, Completions& out) {
  for (ClientState* state : device.clients) {
    EndInFlight(*state, -ENODEV, false, out);
    if (state->parked) out.push_back(Completion{std::exchange(state->parked, nullptr), Fail(ENODEV)});
  }
}

void KillInterfaceUrbs(ClientState& state, Completions& out) {
  EndInFlight(state, -ENOENT, true, out);
}

void DropUrbs(ClientState& state) {
  for (const Urb& urb : state.in_flight) ReleaseMemory(urb.charge);
  for (const Urb& urb : state.completed) ReleaseMemory(urb.charge);
  state.in_flight.clear();
  state.completed.clear();
}

}  // namespace korvo_emu
