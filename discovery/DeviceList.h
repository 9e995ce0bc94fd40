#pragma once

#include <functional>
#include <vector>

#include "discovery/DeviceEntry.h"
#include "platform/DeviceInterfaces.h"

namespace korvo {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: every attached USB device.
inline constexpr InterfaceClassId GUID_DEVINTERFACE_USB_DEVICE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// The present devices of one interface class. After the list has been
// narrowed (KeepOnly), entries are only ever appended, so an index keeps
// naming the same device from then on.
class DeviceList {
 public:
  explicit DeviceList(const InterfaceClassId& guid) : interfaceGuid(guid) {}

  // Appends every readable present interface; returns the count afterwards.
  int Enumerate();

  // Drops the entries that `wanted` refuses, keeping the others in order;
  // returns the count afterwards. For use before any index is handed out.
  int KeepOnly(const std::function<bool(const DeviceEntry&)>& wanted);

  int GetCount() const { return static_cast<int>(entries.size()); }
  // index must lie in 0 .. GetCount() - 1.
  const DeviceEntry& GetAt(int index) const { return entries[static_cast<size_t>(index)]; }

 private:
  InterfaceClassId interfaceGuid;
  std::vector<DeviceEntry> entries;
};

}  // namespace korvo
