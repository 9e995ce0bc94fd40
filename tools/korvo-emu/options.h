// The korvo-emu command line:
//   korvo-emu [--scenario FILE] [--device DEVICE]... [--capture-dir DIR] [--report] -- COMMAND [ARG...]
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device_config.h"

namespace korvo_emu {

struct Options {
  std::vector<DeviceConfig> devices;  // scenario devices first, then --device ones
  std::optional<std::string> capture_dir;
  bool report = false;
  bool help = false;
  std::vector<std::string> command;
};

// Appends the devices of a scenario text (one description per line; blank lines
// and lines starting with # are skipped). `name` prefixes error messages.
bool ParseScenario(std::string_view text, std::string_view name,
                   std::vector<DeviceConfig>& devices, std::string& error);

// Gives devices without dev=N the address 2, 3, 4... by position, the ones
// there from the start first, then those plugged in later: as the kernel
// gives each device it enumerates the next number, a unit plugged in later
// never gets the address of one before it. Rejects two devices on the same
// bus address, and in-turn after a device that is never unplugged.
bool AssignAddresses(std::vector<DeviceConfig>& devices, std::string& error);

// Parses argv (reading scenario files) into `options`. On a usage error returns
// false with `error` set.
bool ParseCommandLine(int argc, char** argv, Options& options, std::string& error);

extern const char kUsage[];

}  // namespace korvo_emu
