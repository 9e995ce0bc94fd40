#include "DriverDevice.h"

#include <windows.h>
#include <newdev.h>
#include <setupapi.h>

#include <vector>

#include "WineDevices.h"

namespace korvo::win32test {

namespace {

// The devices' instance IDs, by unit, carry the vendor and product the way a
// USB device's does, so that their interface paths name vid_6742.
constexpr const char* kInstanceIds[] = {"ROOT\\VID_6742&PID_0001\\0000",
                                        "ROOT\\VID_6742&PID_0001\\0001"};
constexpr char kHardwareIds[] = "Root\\KorvoTestDevice\0";  // a list: two NULs
constexpr const char* kServiceName = "korvotest";

// GUID_DEVCLASS_SYSTEM and GUID_DEVINTERFACE_USB_DEVICE.
constexpr GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kUsbDeviceInterface = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

std::string Failed(const std::string& step) {
  return step + " failed with error " + std::to_string(GetLastError());
}

HANDLE OpenControl(int unit = 0) {
  return CreateFileA(unit == 0 ? KORVO_CONTROL_DOS_NAME : KORVO_CONTROL1_DOS_NAME,
                     GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

bool WaitForControl(unsigned milliseconds) {
  for (unsigned waited = 0;; waited += 100) {
    HANDLE control = OpenControl();
    if (control != INVALID_HANDLE_VALUE) {
      CloseHandle(control);
      return true;
    }
    if (waited >= milliseconds) return false;
    Sleep(100);
  }
}

// Registers a root-enumerated device, unless it is registered already.
std::string RegisterDevice(const char* instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
  std::string error;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!SetupDiCreateDeviceInfoA(set, instanceId, &kSystemClass, nullptr, nullptr, 0, &device)) {
    if (GetLastError() != ERROR_DEVINST_ALREADY_EXISTS) error = Failed("SetupDiCreateDeviceInfo");
  } else if (!SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(kHardwareIds),
                                                sizeof kHardwareIds)) {
    error = Failed("setting the hardware ID");
  } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    error = Failed("DIF_REGISTERDEVICE");
  }
  SetupDiDestroyDeviceInfoList(set);
  return error;
}

// The installation starts the driver's service; should that not have
// happened, it is started here. The service database can stay locked for
// a while after the system started.
std::string StartService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return Failed("OpenSCManager");
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_START);
  std::string error = service ? "" : Failed("OpenService");
  for (int attempt = 0; service && attempt < 60; ++attempt) {
    if (StartServiceA(service, 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) break;
    if (GetLastError() != ERROR_SERVICE_DATABASE_LOCKED) {
      error = Failed("StartService");
      break;
    }
    Sleep(500);
  }
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return error;
}

}  // namespace

std::string InstallDriverDevice() {
  if (WaitForControl(0)) return "";

  std::string error;
  for (const char* instanceId : kInstanceIds) {
    if (error.empty()) error = RegisterDevice(instanceId);
  }
  if (!error.empty()) return error;
  const std::string inf = DosPathOfUnixPath(KORVO_DRIVER_DIR "/korvo-driver.inf");
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, "Root\\KorvoTestDevice", inf.c_str(),
                                          INSTALLFLAG_FORCE, &reboot)) {
    return Failed("UpdateDriverForPlugAndPlayDevices(" + inf + ")");
  }
  if (WaitForControl(10000)) return "";
  error = StartService();
  if (!error.empty()) return error;
  if (!WaitForControl(20000)) return "the driver's service runs but its control device never appeared";
  return "";
}

KorvoDeviceSettings PresentDevice() {
  KorvoDeviceSettings settings = {};
  settings.failWriteAfter = ~0ull;
  settings.present = 1;
  return settings;
}

DriverDevice::DriverDevice(int unit) : control_(OpenControl(unit)) {}

DriverDevice::~DriverDevice() {
  if (!Ready()) return;
  KorvoDeviceSettings unplugged = PresentDevice();
  unplugged.present = 0;
  Configure(unplugged);
  CloseHandle(control_);
}

bool DriverDevice::Ready() const { return control_ != INVALID_HANDLE_VALUE; }

bool DriverDevice::Configure(const KorvoDeviceSettings& settings) {
  DWORD returned = 0;
  return DeviceIoControl(control_, KORVO_IOCTL_CONFIGURE, const_cast<KorvoDeviceSettings*>(&settings),
                         sizeof settings, nullptr, 0, &returned, nullptr) != FALSE;
}

std::string DriverDevice::Received() const {
  std::string bytes;
  std::vector<char> chunk(1 << 20);
  for (;;) {
    unsigned long long offset = bytes.size();
    DWORD got = 0;
    if (!DeviceIoControl(control_, KORVO_IOCTL_READ_RECEIVED, &offset, sizeof offset, chunk.data(),
                         static_cast<DWORD>(chunk.size()), &got, nullptr) ||
        got == 0) {
      return bytes;
    }
    bytes.append(chunk.data(), got);
  }
}

KorvoDeviceCounters DriverDevice::Counters() const {
  KorvoDeviceCounters counters = {};
  DWORD returned = 0;
  DeviceIoControl(control_, KORVO_IOCTL_GET_COUNTERS, nullptr, 0, &counters, sizeof counters,
                  &returned, nullptr);
  return counters;
}

bool DriverDevice::ReleaseHeldWrite(long ntStatus) {
  DWORD returned = 0;
  return DeviceIoControl(control_, KORVO_IOCTL_RELEASE_HELD_WRITE, &ntStatus, sizeof ntStatus,
                         nullptr, 0, &returned, nullptr) != FALSE;
}

std::string DriverDevice::InterfacePath(int unit) {
  HDEVINFO set = SetupDiGetClassDevsA(&kUsbDeviceInterface, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return "";
  std::string path;
  SP_DEVICE_INTERFACE_DATA interfaceData = {};
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceInterface, index,
                                                    &interfaceData);
       ++index) {
    char buffer[512];
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    char instanceId[256];
    if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, sizeof buffer, nullptr,
                                         &device) &&
        SetupDiGetDeviceInstanceIdA(set, &device, instanceId, sizeof instanceId, nullptr) &&
        lstrcmpiA(instanceId, kInstanceIds[unit]) == 0) {
      path = detail->DevicePath;
      break;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return path;
}

}  // namespace korvo::win32test
