#include "device_config.h"

#include <set>
#include <vector>

#include "descriptors.h"
#include "text_value.h"

namespace korvo_emu {
namespace {

struct Item {
  std::string_view key;
  std::optional<std::string_view> value;
};

std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

Item SplitItem(std::string_view item) {
  const std::size_t eq = item.find('=');
  if (eq == std::string_view::npos) return {item, std::nullopt};
  return {item.substr(0, eq), item.substr(eq + 1)};
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base, std::uint64_t max) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > max) return std::nullopt;
  }
  return value;
}

bool NeedsValue(std::string_view key) {
  static const std::set<std::string_view> keys = {
      "vid", "pid", "bus", "dev", "manufacturer", "product", "serial", "vendor-db",
      "model-db", "class", "status", "vanish-after", "pause-after", "bulk-rate", "driver",
      "detach-delay", "plug-after", "unplug-after", "probe-delay"};
  return keys.count(key) != 0;
}

bool IsFlag(std::string_view key) {
  static const std::set<std::string_view> flags = {
      "nonode", "roothub", "status-empty", "stall-status", "busy", "hang", "denied", "lp-busy",
      "lp-denied", "lp-nonode", "no-bulk-out", "hold-writes", "in-turn"};
  return flags.count(key) != 0;
}

bool SetNumber(DeviceConfig& config, std::string_view key, std::string_view value,
               std::string& error) {
  struct Rule {
    int base;
    std::uint64_t min;
    std::uint64_t max;
    std::size_t max_digits;
  };
  Rule rule{10, 0, 0, 0};
  if (key == "vid" || key == "pid") rule = {16, 0, 0xffff, 4};
  else if (key == "bus") rule = {10, 1, 255, 3};
  else if (key == "dev") rule = {10, 1, 127, 3};
  else if (key == "class") rule = {10, 0, 255, 3};
  else if (key == "status") rule = {16, 0, 0xff, 2};
  else if (key == "bulk-rate") rule = {10, 1, UINT64_MAX / 16, 19};
  else if (key == "detach-delay") rule = {10, 0, 60000, 5};
  else if (key == "plug-after" || key == "unplug-after" || key == "probe-delay") rule = {10, 0, 3600000, 7};
  else rule = {10, 0, UINT64_MAX / 16, 19};  // vanish-after, pause-after
  const auto number = value.size() <= rule.max_digits
                          ? ParseUnsigned(value, rule.base, rule.max)
                          : std::nullopt;
  if (!number || *number < rule.min) {
    error = std::string(key) + "=" + std::string(value) + ": not a valid " +
            (rule.base == 16 ? "hex" : "decimal") + " value";
    return false;
  }
  if (key == "vid") config.vendor_id = static_cast<std::uint16_t>(*number);
  else if (key == "pid") config.product_id = static_cast<std::uint16_t>(*number);
  else if (key == "bus") config.bus = static_cast<int>(*number);
  else if (key == "dev") config.address = static_cast<int>(*number);
  else if (key == "class") config.interface_class = static_cast<std::uint8_t>(*number);
  else if (key == "status") config.status_byte = static_cast<std::uint8_t>(*number);
  else if (key == "bulk-rate") config.bulk_rate = *number;
  else if (key == "detach-delay") config.detach_delay_ms = static_cast<unsigned>(*number);
  else if (key == "pause-after") config.pause_after = *number;
  else if (key == "plug-after") config.plug_after_ms = static_cast<unsigned>(*number);
  else if (key == "unplug-after") config.unplug_after_ms = static_cast<unsigned>(*number);
  else if (key == "probe-delay") config.probe_delay_ms = static_cast<unsigned>(*number);
  else config.vanish_after = *number;
  return true;
}

bool SetText(DeviceConfig& config, std::string_view key, std::string_view value,
             std::string& error) {
  std::string reason;
  std::optional<std::string> text = DecodeText(value, reason);
  if (!text) {
    error = std::string(key) + ": " + reason;
    return false;
  }
  const bool is_property = key == "vendor-db" || key == "model-db";
  // A udev property is one line of the uevent file.
  if (is_property && text->find_first_of(std::string_view("\n\0", 2)) != std::string::npos) {
    error = std::string(key) + ": a udev property cannot hold a newline or NUL byte";
    return false;
  }
  if (key == "manufacturer") config.manufacturer = std::move(text);
  else if (key == "product") config.product = std::move(text);
  else if (key == "serial") config.serial = std::move(text);
  else if (key == "vendor-db") config.vendor_from_database = std::move(text);
  else config.model_from_database = std::move(text);
  return true;
}

void SetFlag(DeviceConfig& config, std::string_view key) {
  if (key == "nonode") config.has_node = false;
  else if (key == "roothub") config.root_hub = true;
  else if (key == "status-empty") config.status_reply = StatusReply::kEmpty;
  else if (key == "stall-status") config.status_reply = StatusReply::kStall;
  else if (key == "busy") config.busy = true;
  else if (key == "lp-busy") config.lp_busy = true;
  else if (key == "denied") config.denied = true;
  else if (key == "lp-denied") config.lp_denied = true;
  else if (key == "lp-nonode") config.lp_nonode = true;
  else if (key == "no-bulk-out") config.bulk_out = false;
  else if (key == "hold-writes") config.hold_writes = true;
  else if (key == "in-turn") config.in_turn = true;
  else config.hang = true;
}

// A kernel driver's name as sysfs shows it; usbfs is not one (see busy).
bool SetDriver(DeviceConfig& config, std::string_view value, std::string& error) {
  constexpr std::size_t kMaxName = 255;  // what usbdevfs_getdriver holds, with its NUL
  const bool plain = !value.empty() && value.size() <= kMaxName &&
                     value.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                             "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.") ==
                         std::string_view::npos;
  if (!plain) {
    error = "driver=" + std::string(value) + ": not a driver name";
    return false;
  }
  if (value == "usbfs") {
    error = "driver=usbfs: usbfs is a program's claim, see busy";
    return false;
  }
  config.driver = std::string(value);
  return true;
}

bool ApplyItem(DeviceConfig& config, const Item& item, std::string& error) {
  if (IsFlag(item.key)) {
    if (item.value) {
      error = std::string(item.key) + " takes no value";
      return false;
    }
    SetFlag(config, item.key);
    return true;
  }
  if (!NeedsValue(item.key)) {
    error = "unknown key '" + std::string(item.key) + "'";
    return false;
  }
  if (!item.value) {
    error = std::string(item.key) + " needs a value (" + std::string(item.key) + "=...)";
    return false;
  }
  if (item.key == "driver") return SetDriver(config, *item.value, error);
  const bool is_text = item.key == "manufacturer" || item.key == "product" || item.key == "serial" ||
                       item.key == "vendor-db" || item.key == "model-db";
  return is_text ? SetText(config, item.key, *item.value, error)
                 : SetNumber(config, item.key, *item.value, error);
}

bool CheckStatusKeys(const std::set<std::string_view>& seen, std::string& error) {
  const int count = static_cast<int>(seen.count("status") + seen.count("status-empty") +
                                     seen.count("stall-status"));
  if (count > 1) {
    error = "status=, status-empty and stall-status exclude each other";
    return false;
  }
  return true;
}

bool CheckDriverKeys(const DeviceConfig& config, std::string& error) {
  if (config.busy && config.driver) {
    error = "busy and driver= exclude each other";
    return false;
  }
  if ((config.lp_busy || config.lp_denied || config.lp_nonode) && config.driver != kUsblpDriver) {
    error = std::string(config.lp_busy ? "lp-busy" : config.lp_denied ? "lp-denied" : "lp-nonode") +
            " needs driver=usblp";
    return false;
  }
  return true;
}

bool CheckPlugKeys(const std::set<std::string_view>& seen, std::string& error) {
  if (seen.count("probe-delay") && !seen.count("plug-after") && !seen.count("in-turn")) {
    error = "probe-delay needs plug-after or in-turn: a device there from the start is settled";
    return false;
  }
  return true;
}

}  // namespace

std::optional<DeviceConfig> ParseDeviceConfig(std::string_view text, std::string& error) {
  if (text.empty()) {
    error = "empty device description";
    return std::nullopt;
  }
  DeviceConfig config;
  std::set<std::string_view> seen;
  for (const std::string_view part : SplitCommas(text)) {
    if (part.empty()) {
      error = "empty item (stray comma?)";
      return std::nullopt;
    }
    const Item item = SplitItem(part);
    if (!seen.insert(item.key).second) {
      error = "key '" + std::string(item.key) + "' given twice";
      return std::nullopt;
    }
    if (!ApplyItem(config, item, error)) return std::nullopt;
  }
  if (seen.count("vid") == 0) {
    error = "vid=XXXX is required";
    return std::nullopt;
  }
  if (!CheckStatusKeys(seen, error)) return std::nullopt;
  if (!CheckDriverKeys(config, error)) return std::nullopt;
  if (!CheckPlugKeys(seen, error)) return std::nullopt;
  // Most devices that are not printers stall the printer class's request.
  const bool status_given =
      seen.count("status") + seen.count("status-empty") + seen.count("stall-status") != 0;
  if (!status_given && config.interface_class != kPrinterClass) {
    config.status_reply = StatusReply::kStall;
  }
  return config;
}

}  // namespace korvo_emu
