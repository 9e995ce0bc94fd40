// Device discovery through SetupAPI: the present interfaces of one class, each
// with its path and the device's friendly name and description.
#include "platform/DeviceInterfaces.h"

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win32/Win32.h"

namespace korvo {

// The records SetupAPI checks by size. In a 32-bit build the structures are
// byte-packed: the detail header is a DWORD and one character.
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(void*) != 4 || sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(InterfaceClassId) == sizeof(GUID));

namespace {

// Names are read into buffers of this size; a longer name does not fit and
// its read fails.
constexpr DWORD kNameBufferSize = 256;

// 4 hex digits after `key` ("VID_") in `id`, case-insensitively.
std::optional<unsigned> HexAfter(const std::string& id, const char* key) {
  std::string upper = id;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  size_t at = upper.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::string digits = upper.substr(at + strlen(key), 4);
  if (digits.size() != 4 || digits.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<unsigned>(strtoul(digits.c_str(), nullptr, 16));
}

// The facts a USB instance ID carries: "USB\VID_6742&PID_0001\SERIAL". Its
// last part is the device's serial number, unless Windows made the ID up
// for a device without one (then it holds '&': "5&2c3f1a0&0&2").
DeviceFacts FactsOfInstanceId(const std::string& id) {
  DeviceFacts facts;
  size_t first = id.find('\\');
  size_t last = id.rfind('\\');
  if (first == std::string::npos || last == first) return facts;
  std::string hardware = id.substr(first + 1, last - first - 1);
  facts.vendorId = HexAfter(hardware, "VID_");
  facts.productId = HexAfter(hardware, "PID_");
  std::string serial = id.substr(last + 1);
  if (!serial.empty() && serial.find('&') == std::string::npos) facts.serial = serial;
  return facts;
}

// A text property of the device; absent when it is missing or too long.
std::optional<std::string> ReadName(HDEVINFO set, SP_DEVINFO_DATA& deviceData, DWORD property) {
  char buffer[kNameBufferSize];
  if (!SetupDiGetDeviceRegistryPropertyA(set, &deviceData, property, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer, nullptr)) {
    return std::nullopt;
  }
  // A value stored without its terminator can fill the whole buffer.
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

// The interface's record; nothing when it cannot be read.
std::optional<InterfaceRecord> ReadInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) {
  // The first call only measures the record; it fails by design.
  DWORD requiredSize = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &requiredSize, nullptr);
  if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return std::nullopt;

  auto* detail =
      static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(::operator new(requiredSize, std::nothrow));
  if (!detail) return std::nullopt;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

  SP_DEVINFO_DATA deviceData = {};
  deviceData.cbSize = sizeof deviceData;
  std::optional<InterfaceRecord> record;
  if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, requiredSize, nullptr,
                                       &deviceData)) {
    record.emplace();
    // DevicePath fills the rest of the record; it is terminated within it.
    const char* path = detail->DevicePath;
    size_t pathRoom = requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    record->devicePath.assign(path, strnlen(path, pathRoom));
    record->friendlyName = ReadName(set, deviceData, SPDRP_FRIENDLYNAME);
    record->deviceDescription = ReadName(set, deviceData, SPDRP_DEVICEDESC);
    char instanceId[MAX_DEVICE_ID_LEN];
    if (SetupDiGetDeviceInstanceIdA(set, &deviceData, instanceId, sizeof instanceId, nullptr)) {
      record->facts = FactsOfInstanceId(instanceId);
    }
  }
  ::operator delete(detail);
  return record;
}

}  // namespace

// Windows numbers buses and addresses in ways of its own, not shown here.
bool DiscoveryKnowsBusAddress() { return false; }

std::optional<std::vector<InterfaceRecord>> ListPresentInterfaces(const InterfaceClassId& interfaceClass) {
  GUID guid = ToGuid(interfaceClass);
  HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<InterfaceRecord> records;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData); ++index) {
    if (std::optional<InterfaceRecord> record = ReadInterface(set, interfaceData)) {
      records.push_back(std::move(*record));
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return records;
}

}  // namespace korvo
