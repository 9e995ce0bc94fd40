#include "WineDevices.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

#include "support/TempDir.h"

namespace korvo::win32test {

namespace {

constexpr const char* kDeviceClasses = "System\\CurrentControlSet\\Control\\DeviceClasses\\";
constexpr const char* kEnum = "System\\CurrentControlSet\\Enum\\";

// Wine's own export: the Unix path of a DOS path, allocated on the process heap.
using UnixFileNameFn = char*(CDECL*)(const WCHAR*);

UnixFileNameFn WineUnixFileName() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return nullptr;
  return reinterpret_cast<UnixFileNameFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string WithHashes(std::string instanceId) {
  std::replace(instanceId.begin(), instanceId.end(), '\\', '#');
  return instanceId;
}

// The interface's key, named as Wine names it, so that Wine's own writes to
// it land in the same key.
std::string InterfaceKey(const MadeUpInterface& madeUp) {
  return std::string(kDeviceClasses) + madeUp.interfaceClass + "\\##?#" +
         WithHashes(madeUp.instanceId) + "#" + madeUp.interfaceClass;
}

bool SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

// Creates HKLM\path, lets `fill` set its values, closes it.
template <typename Fill>
bool WriteKey(const std::string& path, Fill fill) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = fill(key);
  RegCloseKey(key);
  return ok;
}

void DeleteKey(const std::string& path) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::string DosDevicesDirectory() {
  UnixFileNameFn unixFileName = WineUnixFileName();
  if (!unixFileName) return "";
  char* driveC = unixFileName(L"C:\\");  // ".../dosdevices/c:/"
  if (!driveC) return "";
  std::string path = driveC;
  HeapFree(GetProcessHeap(), 0, driveC);
  size_t drive = path.rfind("c:/");
  if (drive == std::string::npos) return "";
  return DosPathOfUnixPath(path.substr(0, drive));
}

}  // namespace

std::string DosPathOfUnixPath(std::string unixPath) {
  std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
  return "Z:" + unixPath;
}

bool RunningUnderWine() { return WineUnixFileName() != nullptr; }

std::string InterfacePath(const MadeUpInterface& madeUp) {
  return "\\\\?\\" + Lower(WithHashes(madeUp.instanceId) + "#" + madeUp.interfaceClass);
}

MadeUpInterfaces::~MadeUpInterfaces() {
  for (const MadeUpInterface& madeUp : added_) {
    DeleteKey(InterfaceKey(madeUp));
    DeleteKey(kEnum + madeUp.instanceId);
  }
}

bool MadeUpInterfaces::Add(const MadeUpInterface& madeUp) {
  added_.push_back(madeUp);
  const std::string interfaceKey = InterfaceKey(madeUp);
  return WriteKey(interfaceKey,
                  [&](HKEY key) { return SetString(key, "DeviceInstance", madeUp.instanceId); }) &&
         WriteKey(interfaceKey + "\\#\\Control",
                  [&](HKEY key) { return SetDword(key, "Linked", madeUp.present ? 1 : 0); }) &&
         WriteKey(kEnum + madeUp.instanceId, [&](HKEY key) {
           // Any setup class will do; Wine only needs one to create the device.
           bool ok = SetString(key, "ClassGUID", "{36fc9e60-c465-11cf-8056-444553540000}");
           if (madeUp.friendlyName) ok = ok && SetString(key, "FriendlyName", *madeUp.friendlyName);
           if (madeUp.deviceDesc) ok = ok && SetString(key, "DeviceDesc", *madeUp.deviceDesc);
           return ok;
         });
}

DeviceNode::DeviceNode(const std::string& interfacePath) {
  std::string directory = DosDevicesDirectory();
  if (!directory.empty()) file_ = directory + interfacePath.substr(4);  // without "\\?\"
}

DeviceNode::~DeviceNode() {
  if (!file_.empty()) DeleteFileA(file_.c_str());
}

bool DeviceNode::Create() { return !file_.empty() && test::WriteWhole(file_, ""); }

std::string DeviceNode::Contents() const { return test::ReadWhole(file_); }

}  // namespace korvo::win32test
