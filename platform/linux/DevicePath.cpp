// How the Linux layer names a device: its path (the usbfs node with the IDs
// appended), written and read here only, and its name from two strings.
#include <cstdio>

#include "platform/linux/Linux.h"

namespace korvo {

namespace {

constexpr std::string_view kVendorKey = "#vid_";
constexpr std::string_view kProductKey = "&pid_";

// Four lowercase hex digits at the start of `text`, consumed.
std::optional<uint16_t> TakeId(std::string_view& text) {
  if (text.size() < 4) return std::nullopt;
  unsigned value = 0;
  for (size_t i = 0; i < 4; ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = value << 4 | digit;
  }
  text.remove_prefix(4);
  return static_cast<uint16_t>(value);
}

bool TakeKey(std::string_view& text, std::string_view key) {
  if (text.substr(0, key.size()) != key) return false;
  text.remove_prefix(key.size());
  return true;
}

}  // namespace

std::string FormatDevicePath(const UsbDevicePath& path) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "#vid_%04x&pid_%04x", static_cast<unsigned>(path.vendor),
                static_cast<unsigned>(path.product));
  return path.node + ids;
}

std::optional<UsbDevicePath> ParseDevicePath(std::string_view text) {
  // The IDs follow the last '#': a node name never holds one, and this way
  // whatever the formatter was given comes back.
  size_t hash = text.rfind('#');
  if (hash == std::string_view::npos || hash == 0) return std::nullopt;
  if (text.substr(0, hash).find('\0') != std::string_view::npos) return std::nullopt;
  UsbDevicePath path;
  path.node = std::string(text.substr(0, hash));
  std::string_view ids = text.substr(hash);
  std::optional<uint16_t> vendor, product;
  if (!TakeKey(ids, kVendorKey) || !(vendor = TakeId(ids)) || !TakeKey(ids, kProductKey) ||
      !(product = TakeId(ids)) || !ids.empty()) {
    return std::nullopt;
  }
  path.vendor = *vendor;
  path.product = *product;
  return path;
}

std::optional<std::string> JoinName(const char* first, const char* second) {
  if (!second || !*second) return std::nullopt;
  if (!first || !*first) return std::string(second);
  return std::string(first) + " " + second;
}

}  // namespace korvo
