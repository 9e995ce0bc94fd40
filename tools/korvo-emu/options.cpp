#include "options.h"

#include <fstream>
#include <map>
#include <sstream>
#include <utility>

namespace korvo_emu {

const char kUsage[] =
    "usage: korvo-emu [--scenario FILE] [--device DEVICE]... [--capture-dir DIR] [--report]"
    " -- COMMAND [ARG...]\n"
    "  DEVICE: comma-separated items, e.g. vid=6742,pid=0001,product=KORVO%20K1,status=98\n"
    "  keys: vid pid bus dev manufacturer product serial vendor-db model-db class status\n"
    "        vanish-after pause-after bulk-rate driver detach-delay plug-after unplug-after\n"
    "        probe-delay; flags: nonode roothub status-empty stall-status busy hang denied\n"
    "        lp-busy lp-denied lp-nonode no-bulk-out hold-writes in-turn\n";

namespace {

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read scenario file " + path;
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(int argc, char** argv, int& i, std::string_view name, std::string& value,
               std::string& error) {
  const std::string_view arg = argv[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') {
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return false;
  }
  value = argv[++i];
  return true;
}

bool IsOption(std::string_view arg, std::string_view name) {
  return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                         arg[name.size()] == '=');
}

bool ParseOption(int argc, char** argv, int& i, Options& options,
                 std::vector<DeviceConfig>& scenario_devices,
                 std::vector<DeviceConfig>& listed_devices, std::string& error) {
  const std::string_view arg = argv[i];
  std::string value;
  if (arg == "-h" || arg == "--help") {
    options.help = true;
  } else if (arg == "--report") {
    options.report = true;
  } else if (IsOption(arg, "--capture-dir")) {
    if (!TakeValue(argc, argv, i, "--capture-dir", value, error)) return false;
    if (value.empty()) {
      error = "--capture-dir needs a directory";
      return false;
    }
    options.capture_dir = value;
  } else if (IsOption(arg, "--scenario")) {
    std::string text;
    if (!TakeValue(argc, argv, i, "--scenario", value, error)) return false;
    if (!ReadFile(value, text, error)) return false;
    if (!ParseScenario(text, value, scenario_devices, error)) return false;
  } else if (IsOption(arg, "--device")) {
    if (!TakeValue(argc, argv, i, "--device", value, error)) return false;
    std::string reason;
    std::optional<DeviceConfig> device = ParseDeviceConfig(value, reason);
    if (!device) {
      error = "--device " + value + ": " + reason;
      return false;
    }
    listed_devices.push_back(std::move(*device));
  } else {
    error = "unknown option " + std::string(arg);
    return false;
  }
  return true;
}

}  // namespace

bool ParseScenario(std::string_view text, std::string_view name,
                   std::vector<DeviceConfig>& devices, std::string& error) {
  int line_number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = Trim(text.substr(start, end - start));
    ++line_number;
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    std::string reason;
    std::optional<DeviceConfig> device = ParseDeviceConfig(line, reason);
    if (!device) {
      error = std::string(name) + ":" + std::to_string(line_number) + ": " + reason;
      return false;
    }
    devices.push_back(std::move(*device));
  }
  return true;
}

bool AssignAddresses(std::vector<DeviceConfig>& devices, std::string& error) {
  std::map<std::pair<int, int>, std::size_t> taken;
  int next = 2;
  for (const bool later : {false, true}) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
      DeviceConfig& device = devices[i];
      if (PluggedLater(device) != later) continue;
      if (device.in_turn && (i == 0 || !Unplugs(devices[i - 1]))) {
        error = "device " + std::to_string(i + 1) + ": in-turn needs a device before it that is " +
                "unplugged (unplug-after, vanish-after)";
        return false;
      }
      if (device.address == 0) {
        if (next > 127) {
          error = "too many devices for default addresses; give dev=N";
          return false;
        }
        device.address = next;
      }
      ++next;
      const auto [it, inserted] = taken.emplace(std::make_pair(device.bus, device.address), i);
      if (!inserted) {
        error = "devices " + std::to_string(it->second + 1) + " and " + std::to_string(i + 1) +
                " both have bus " + std::to_string(device.bus) + " address " +
                std::to_string(device.address);
        return false;
      }
    }
  }
  return true;
}

bool ParseCommandLine(int argc, char** argv, Options& options, std::string& error) {
  std::vector<DeviceConfig> scenario_devices;
  std::vector<DeviceConfig> listed_devices;
  int i = 1;
  for (; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--") break;
    if (!ParseOption(argc, argv, i, options, scenario_devices, listed_devices, error)) {
      return false;
    }
  }
  if (options.help) return true;
  if (i >= argc) {
    error = "missing '-- COMMAND'";
    return false;
  }
  for (++i; i < argc; ++i) options.command.emplace_back(argv[i]);
  if (options.command.empty()) {
    error = "missing COMMAND after '--'";
    return false;
  }
  options.devices = std::move(scenario_devices);
  for (DeviceConfig& device : listed_devices) options.devices.push_back(std::move(device));
  return AssignAddresses(options.devices, error);
}

}  // namespace korvo_emu
