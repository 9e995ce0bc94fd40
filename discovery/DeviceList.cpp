#include "discovery/DeviceList.h"

namespace korvo {

namespace {

// Names are read into a buffer of this size, terminator included: a longer
// name does not fit and counts as unreadable.
constexpr size_t kDescriptionBufferSize = 256;

bool Fits(const std::optional<std::string>& name) {
  return name && name->size() < kDescriptionBufferSize;
}

// The friendly name, else the device description, else the start of the path.
std::string DescriptionOf(const InterfaceRecord& record) {
  if (Fits(record.friendlyName)) return *record.friendlyName;
  if (Fits(record.deviceDescription)) return *record.deviceDescription;
  return record.devicePath.substr(0, kDescriptionBufferSize - 1);
}

}  // namespace

int DeviceList::Enumerate() {
  std::unique_ptr<DeviceInterfaceSet> set = OpenPresentInterfaces(interfaceGuid);
  if (!set) return 0;

  for (unsigned index = 0;; ++index) {
    InterfaceRecord record;
    InterfaceRead result = set->ReadInterface(index, record);
    if (result == InterfaceRead::NoMore) break;
    if (result == InterfaceRead::Unreadable) continue;  // left out; later ones still count

    // Both texts are C strings, as the system hands them over.
    std::string description = DescriptionOf(record);
    entries.emplace_back(record.devicePath.c_str(), description.c_str());
    entries.back().facts = record.facts;
  }
  return GetCount();
}

int DeviceList::KeepOnly(const std::function<bool(const DeviceEntry&)>& wanted) {
  std::erase_if(entries, [&](const DeviceEntry& entry) { return !wanted(entry); });
  return GetCount();
}

}  // namespace korvo
