// What one emulated device looks like and how it behaves, as given by a
// comma-separated key=value description (--device or one scenario line).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvo_emu {

enum class StatusReply {
  kByte,   // answer status_byte
  kEmpty,  // answer with 0 bytes
  kStall,  // stall the request (EPIPE)
};

struct DeviceConfig {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0x0001;
  int bus = 1;
  int address = 0;  // 0 until assigned: explicit dev=N, else by order of appearance
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::optional<std::string> serial;
  std::optional<std::string> vendor_from_database;
  std::optional<std::string> model_from_database;
  bool has_node = true;
  bool root_hub = false;  // the bus's root hub, named usbB in sysfs
  std::uint8_t interface_class = 7;  // printer
  // The kernel driver bound to the interface at the start (usblp, usb-storage...),
  // if any. usblp also brings the lp node /dev/usb/lpN.
  std::optional<std::string> driver;
  bool lp_busy = false;    // another program holds the lp node open
  bool lp_denied = false;  // the lp node is read-only
  bool lp_nonode = false;  // usblp is bound but shows no lp node
  unsigned detach_delay_ms = 0;  // what moving the driver aside takes

  // Without status=/status-empty/stall-status: the byte for a printer interface,
  // a stall for any other class.
  StatusReply status_reply = StatusReply::kByte;
  std::uint8_t status_byte = 0x18;
  bool busy = false;
  bool hang = false;
  bool hold_writes = false;  // bulk OUT never completes; control requests are answered
  std::optional<std::uint64_t> vanish_after;
  // Bulk OUT pauses after this many bytes: the transfer under way holds once it has
  // given them, until the program cancels it; later transfers go through.
  std::optional<std::uint64_t> pause_after;
  std::optional<std::uint64_t> bulk_rate;  // bytes per second taken on bulk OUT; unlimited if absent
  bool denied = false;  // the node is read-only: opening it for writing needs permission overrides
  bool bulk_out = true;  // false: the interface has a bulk IN endpoint only

  // Plugs and unplugs while the command runs. Absent at the start, the device
  // is plugged in plug_after_ms after the command started, or with in_turn
  // after the device before it in the list was unplugged; it is unplugged
  // unplug_after_ms after it was plugged in (after the start if there from
  // the start). Plugged in, its interface's driver binds probe_delay_ms after
  // the kernel's "add" uevents.
  std::optional<unsigned> plug_after_ms;
  bool in_turn = false;
  std::optional<unsigned> unplug_after_ms;
  unsigned probe_delay_ms = 0;
};

// Whether the device is plugged in while the command runs, not before.
inline bool PluggedLater(const DeviceConfig& config) { return config.plug_after_ms || config.in_turn; }

// Whether the device is unplugged at some point: after a time, or once it
// took vanish-after's bytes (vanish-after=0 stays listed, gone from the start).
inline bool Unplugs(const DeviceConfig& config) {
  return config.unplug_after_ms || (config.vanish_after && *config.vanish_after > 0);
}

// Parses one description. Returns nullopt with `error` set on any mistake.
std::optional<DeviceConfig> ParseDeviceConfig(std::string_view text, std::string& error);

inline constexpr char kUsblpDriver[] = "usblp";

}  // namespace korvo_emu
