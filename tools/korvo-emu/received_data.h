// The bulk OUT bytes one emulated device takes: counted, hashed for the report,
// appended to its capture file, and cut off where the device vanishes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "device_config.h"

typedef struct _GChecksum GChecksum;

namespace korvo_emu {

class ReceivedData {
 public:
  // `capture_path` is where the bytes go, if anywhere.
  ReceivedData(const DeviceConfig& config, std::optional<std::string> capture_path);
  ~ReceivedData();
  ReceivedData(const ReceivedData&) = delete;
  ReceivedData& operator=(const ReceivedData&) = delete;

  // The device node was opened: the capture file exists from now on, empty at first.
  void Opened();

  // Takes up to `size` bytes, fewer if the device vanishes on the way; returns how
  // many it took. A transfer of 0 bytes still counts as writing to the device.
  std::size_t Take(const std::uint8_t* data, std::size_t size);

  // True once vanish-after's count of bytes has arrived, or the device was
  // unplugged.
  bool vanished() const;
  void Unplug() { unplugged_ = true; }

  // "001/002 received N bytes, sha256 HEX", or nullopt if nothing was written.
  std::optional<std::string> Summary() const;

 private:
  void Append(const std::uint8_t* data, std::size_t size);

  int bus_;
  int address_;
  std::optional<std::uint64_t> limit_;
  std::optional<std::string> capture_path_;
  int capture_fd_ = -1;
  bool capture_failed_ = false;
  GChecksum* checksum_;
  std::uint64_t received_ = 0;
  bool written_ = false;
  bool unplugged_ = false;
};

}  // namespace korvo_emu
