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
  std::optional<std::vector<InterfaceRecord>> records = ListPresentInterfaces(interfaceGuid);
  if (!records) return 0;

  for (const InterfaceRecord& record : *records) {
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
