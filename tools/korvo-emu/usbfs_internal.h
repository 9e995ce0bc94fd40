// State shared by the usbfs emulation's parts. All of it is used on umockdev's
// worker thread with DeviceCore::mutex held; the report reads it at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "descriptors.h"
#include "device_config.h"
#include "device_model.h"
#include "received_data.h"

typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;
struct usbdevfs_getdriver;
struct usbdevfs_disconnect_claim;

namespace korvo_emu {

inline constexpr std::size_t kSetupSize = 8;
inline constexpr std::size_t kMaxControlData = 4096;  // the kernel's limit, a page

struct DataUnref {
  void operator()(UMockdevIoctlData* data) const;
};
// A block of the program's memory, copied here; changes go back when the ioctl completes.
using DataPtr = std::unique_ptr<UMockdevIoctlData, DataUnref>;

// The block a pointer at `offset` inside `parent` points to, `size` bytes long.
// Null for a null pointer or size 0.
DataPtr Resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t size);

struct ClientState;

// What an ioctl returns to the program: result, and errno when result is -1.
struct Reply {
  long result = 0;
  int error = 0;
};

inline Reply Ok(long result = 0) { return Reply{result, 0}; }
inline Reply Fail(int error) { return Reply{-1, error}; }

struct DeviceCore {
  DeviceCore(const DeviceConfig& device_config, std::optional<std::string> capture_path)
      : config(device_config),
        received(device_config, std::move(capture_path)),
        kernel_driver(PluggedLater(device_config) ? std::nullopt : device_config.driver) {}

  const DeviceConfig config;
  std::mutex mutex;
  ReceivedData received;
  ClientState* claim_owner = nullptr;  // which open file holds interface 0
  std::vector<ClientState*> clients;   // open files, for the disconnect
  // The kernel driver bound to interface 0 now, if any (never usbfs).
  std::optional<std::string> kernel_driver;
  // Bulk OUT bytes still to go before pause-after's pause, until it has come.
  std::optional<std::uint64_t> pause_in = config.pause_after;
  // Told the driver bound now whenever that changes (see BoundDriver).
  std::function<void(const std::optional<std::string>&)> driver_changed;
  // Told once a transfer reached vanish-after's count.
  std::function<void()> vanished_now;
  // The node's readiness FIFO (usbfs_ready.h), written end; holds a byte while ready.
  int ready_fifo = -1;
  bool ready = false;
  // bulk-rate: when the bytes taken so far will have gone through
  // (g_get_monotonic_time).
  std::int64_t busy_until = 0;
};

// One submitted URB, from SUBMITURB until the program reaps it.
struct Urb {
  DataPtr data;                       // the program's usbdevfs_urb
  unsigned long address = 0;          // its address in the program, for DISCARDURB
  std::size_t charge = 0;             // bytes held against the usbfs memory limit
  bool on_interface = false;          // bulk: dies when the interface is released
  int status = 0;                     // the result, once completed
  int actual_length = 0;              // bulk OUT: what the device took, kept if it is cut short
  Bytes reply;                        // device-to-host data, once completed
  std::size_t reply_offset = 0;       // where it goes in the buffer (after a setup packet)
  std::int64_t due = 0;               // bulk-rate: when it completes; 0 for none
};

// The request's owner completes it, with no lock held.
struct Completion {
  UMockdevIoctlClient* client;  // owned reference
  Reply reply;
};
using Completions = std::vector<Completion>;

// One open file of a device node.
struct ClientState {
  std::shared_ptr<DeviceCore> device;
  UMockdevIoctlClient* client = nullptr;  // not owned; this state lives on it
  bool gone = false;                      // the program closed the file
  bool claimed = false;
  std::vector<Urb> in_flight;   // submitted, not completed (device not answering)
  std::deque<Urb> completed;    // completed, not reaped yet
  // A blocking REAPURB waiting for a URB: a reference on `client` that keeps its
  // connection open until the request completes.
  UMockdevIoctlClient* parked = nullptr;
};

// usbfs_device.cpp: keeps a URB in flight until its `due` time, then
// completes it; umockdev's thread serves every device meanwhile.
void CompleteWhenDue(ClientState& state, Urb urb);

// usbfs_interface.cpp: claims, as the kernel keeps them per open file.
Reply ClaimInterface(ClientState& state, unsigned interface);
Reply ReleaseInterface(ClientState& state, unsigned interface, Completions& out);
// The kernel claims an interface on first use; fails as a claim would.
Reply UseInterface(ClientState& state);
// The kernel's checks of a control request's recipient before the device sees it.
Reply CheckRecipient(ClientState& state, const SetupPacket& setup);
Reply GetDriver(ClientState& state, usbdevfs_getdriver& request);
Reply DisconnectClaim(ClientState& state, const usbdevfs_disconnect_claim& request,
                      Completions& out);
// USBDEVFS_IOCTL: DISCONNECT and CONNECT of the interface's kernel driver.
Reply DriverIoctl(ClientState& state, int interface, int code, Completions& out);
// The driver bound to interface 0 ("usbfs" while a program holds it), if any.
std::optional<std::string> BoundDriver(const DeviceCore& device);
// The open file is closed: its claim ends.
void ForgetClaim(ClientState& state);

// usbfs_urb.cpp
Reply SubmitUrb(ClientState& state, UMockdevIoctlData* arg, Completions& out);
Reply DiscardUrb(ClientState& state, unsigned long address, Completions& out);
std::optional<Reply> ReapUrb(ClientState& state, UMockdevIoctlData* arg, bool wait);
// Completes a URB the program may reap; a parked REAPURB takes it at once.
void CompleteUrb(ClientState& state, Urb urb, Completions& out);
// The device vanished: every URB in flight on any file ends with ENODEV.
void Disconnect(DeviceCore& device, Completions& out);
void DropUrbs(ClientState& state);
void KillInterfaceUrbs(ClientState& state, Completions& out);

// usbfs_sync.cpp: USBDEVFS_CONTROL and USBDEVFS_BULK.
// A request the device never answers ends with ETIMEDOUT after the program's
// timeout, or never if that is 0, as in the kernel.
std::optional<Reply> SyncControl(ClientState& state, UMockdevIoctlData* arg);
std::optional<Reply> SyncBulk(ClientState& state, UMockdevIoctlData* arg, Completions& out);

// usbfs_memory.cpp: the kernel's usbfs_memory_mb accounting (16 MiB), for all devices.
bool ChargeMemory(std::size_t bytes);
void ReleaseMemory(std::size_t bytes);

}  // namespace korvo_emu
