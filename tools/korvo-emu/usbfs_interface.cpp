// Interface claims as Linux's usbfs keeps them: per open file, exclusive, and
// taken implicitly by the first transfer that needs the interface. `busy` means
// another program holds interface 0 through usbfs, and does not let go.
// The interface has at most one driver: a kernel driver (driver=NAME), or usbfs
// while a program holds it. Unbinding never rebinds anything by itself; only
// USBDEVFS_CONNECT does, as in the kernel.
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>  // needs sys/ioctl.h first

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "usbfs_internal.h"

namespace korvo_emu {
namespace {

constexpr unsigned kInterfaceBits = 8 * sizeof(unsigned long);  // the kernel's ifclaimed
constexpr char kUsbfsDriver[] = "usbfs";

bool IsDriverBound(const ClientState& state) { return BoundDriver(*state.device).has_value(); }

// Unbinds the interface's driver: a kernel driver lets go, usbfs ends whichever
// open file's claim.
Reply Detach(ClientState& state, Completions& out) {
  DeviceCore& device = *state.device;
  if (device.kernel_driver) {
    device.kernel_driver.reset();
    return Ok();
  }
  if (device.config.busy) return Fail(EBUSY);
  ClientState* owner = device.claim_owner;
  owner->claimed = false;
  device.claim_owner = nullptr;
  KillInterfaceUrbs(*owner, out);
  return Ok();
}

}  // namespace

std::optional<std::string> BoundDriver(const DeviceCore& device) {
  if (device.received.vanished()) return std::nullopt;  // unplugged: every driver let go
  if (device.kernel_driver) return device.kernel_driver;
  if (device.config.busy || device.claim_owner != nullptr) return std::string(kUsbfsDriver);
  return std::nullopt;
}

Reply ClaimInterface(ClientState& state, unsigned interface) {
  if (interface >= kInterfaceBits) return Fail(EINVAL);
  if (interface != kInterfaceNumber) return Fail(ENOENT);
  if (state.claimed) return Ok();
  if (IsDriverBound(state)) return Fail(EBUSY);
  state.claimed = true;
  state.device->claim_owner = &state;
  return Ok();
}

Reply ReleaseInterface(ClientState& state, unsigned interface, Completions& out) {
  if (interface >= kInterfaceBits) return Fail(EINVAL);
  if (interface != kInterfaceNumber) return Fail(ENOENT);
  if (!state.claimed) return Fail(EINVAL);
  state.claimed = false;
  state.device->claim_owner = nullptr;
  KillInterfaceUrbs(state, out);
  return Ok();
}

Reply UseInterface(ClientState& state) { return ClaimInterface(state, kInterfaceNumber); }

Reply CheckRecipient(ClientState& state, const SetupPacket& setup) {
  constexpr std::uint8_t kTypeMask = 0x60;
  constexpr std::uint8_t kTypeVendor = 0x40;
  if ((setup.request_type & kTypeMask) == kTypeVendor) return Ok();
  // The kernel always lets a printer's GET_DEVICE_ID through.
  if (setup.request_type == 0xa1 && setup.request == 0 && (setup.index >> 8) == kInterfaceNumber &&
      state.device->config.interface_class == kPrinterClass) {
    return Ok();
  }
  const unsigned index = setup.index & 0xff;
  switch (setup.request_type & 0x1f) {
    case 1:  // interface
      return ClaimInterface(state, index);
    case 2:  // endpoint
      if ((index & ~0x80u) == 0) return Ok();
      if (IsDeviceEndpoint(index) || IsDeviceEndpoint(index ^ 0x80u)) return UseInterface(state);
      return Fail(ENOENT);
    default:
      return Ok();
  }
}

Reply GetDriver(ClientState& state, usbdevfs_getdriver& request) {
  const std::optional<std::string> driver = BoundDriver(*state.device);
  if (request.interface != kInterfaceNumber || !driver) return Fail(ENODATA);
  std::memset(request.driver, 0, sizeof request.driver);
  driver->copy(request.driver, sizeof request.driver - 1);
  return Ok();
}

Reply DisconnectClaim(ClientState& state, const usbdevfs_disconnect_claim& request,
                      Completions& out) {
  if (request.interface != kInterfaceNumber) return Fail(EINVAL);
  if (const std::optional<std::string> driver = BoundDriver(*state.device)) {
    // Compared as the kernel does: at most the field's size, the program's
    // string need not end in a NUL.
    const bool names_driver =
        std::strncmp(request.driver, driver->c_str(), sizeof request.driver) == 0;
    if ((request.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !names_driver) {
      return Fail(EBUSY);
    }
    if ((request.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && names_driver) {
      return Fail(EBUSY);
    }
    if (const unsigned delay = state.device->config.detach_delay_ms) {
      // Said first, so that a test can act while the program waits for it.
      std::fprintf(stderr, "korvo-emu: %03d/%03d detaching %s\n", state.device->config.bus,
                   state.device->config.address, driver->c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    const Reply detached = Detach(state, out);
    if (detached.result < 0) return detached;
  }
  return ClaimInterface(state, request.interface);
}

Reply DriverIoctl(ClientState& state, int interface, int code, Completions& out) {
  if (interface != kInterfaceNumber) return Fail(EINVAL);
  const unsigned long request = static_cast<unsigned int>(code);
  if (request == USBDEVFS_DISCONNECT) {
    return IsDriverBound(state) ? Detach(state, out) : Fail(ENODATA);
  }
  if (request == USBDEVFS_CONNECT) {
    // The kernel's device_attach(): 1 when a driver bound, 0 when none matched.
    // Only the configured driver matches the emulated device.
    if (IsDriverBound(state)) return Fail(EBUSY);
    DeviceCore& device = *state.device;
    if (!device.config.driver) return Ok(0);
    device.kernel_driver = device.config.driver;
    return Ok(1);
  }
  return Fail(ENOTTY);
}

void ForgetClaim(ClientState& state) {
  if (state.device->claim_owner == &state) state.device->claim_owner = nullptr;
  state.claimed = false;
}

}  // namespace korvo_emu
