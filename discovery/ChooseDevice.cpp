#include "discovery/ChooseDevice.h"

#include <string_view>

namespace korvo {

namespace {

// Interface paths carry the vendor as "vid" and one separator before the
// value, e.g. "...#vid_6742&pid_0001...".
constexpr std::string_view kVendorKey = "vid";
constexpr size_t kKeyToValue = 4;
constexpr std::string_view kKorvoVendor = "6742";

bool CarriesKorvoVendor(std::string_view path) {
  size_t key = path.find(kVendorKey);  // only the first occurrence counts
  if (key == std::string_view::npos) return false;
  size_t value = key + kKeyToValue;
  if (path.size() < value + kKorvoVendor.size()) return false;
  return path.substr(value, kKorvoVendor.size()) == kKorvoVendor;
}

}  // namespace

std::optional<int> ChooseDevice(const DeviceList& list) {
  if (list.GetCount() == 1) return 0;
  for (int i = 0; i < list.GetCount(); ++i) {
    if (CarriesKorvoVendor(list.GetAt(i).devicePath)) return i;
  }
  return std::nullopt;
}

}  // namespace korvo
