#pragma once

// USB device interfaces made up for Wine, so that the Windows layer's real
// SetupAPI and file calls can run against them.
//
// Wine's SetupAPI lists the interfaces registered under
// HKLM\System\CurrentControlSet\Control\DeviceClasses and reads the names of
// their devices from HKLM\System\CurrentControlSet\Enum. An interface path
// "\\?\NAME" opens the file NAME in the Wine prefix's dosdevices directory, so
// a plain file there stands in for the device and its driver: it takes
// writes, and it refuses the port-status request as a file does.

#include <optional>
#include <string>
#include <vector>

namespace korvo::win32test {

// GUID_DEVINTERFACE_USB_DEVICE as the registry spells it.
inline constexpr const char* kUsbDeviceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

struct MadeUpInterface {
  explicit MadeUpInterface(std::string id) : instanceId(std::move(id)) {}

  std::string instanceId;  // e.g. "USB\\VID_6742&PID_0001\\K1"
  std::string interfaceClass = kUsbDeviceClass;
  bool present = true;  // false: registered but not enabled
  std::optional<std::string> friendlyName;
  std::optional<std::string> deviceDesc;
};

// True when the program runs under Wine (everything below needs it).
bool RunningUnderWine();

// The path SetupAPI gives the interface: "\\?\", the instance id with '#'
// for '\', '#', the class; all in lower case.
std::string InterfacePath(const MadeUpInterface& madeUp);

// Registers interfaces in Wine's registry; removes them when destroyed.
class MadeUpInterfaces {
 public:
  MadeUpInterfaces() = default;
  ~MadeUpInterfaces();
  MadeUpInterfaces(const MadeUpInterfaces&) = delete;
  MadeUpInterfaces& operator=(const MadeUpInterfaces&) = delete;

  bool Add(const MadeUpInterface& madeUp);

 private:
  std::vector<MadeUpInterface> added_;
};

// The stand-in device behind an interface path: a file in dosdevices.
class DeviceNode {
 public:
  explicit DeviceNode(const std::string& interfacePath);
  ~DeviceNode();
  DeviceNode(const DeviceNode&) = delete;
  DeviceNode& operator=(const DeviceNode&) = delete;

  bool Create();  // empty
  std::string Contents() const;
  const std::string& File() const { return file_; }

 private:
  std::string file_;
};

// "/a/b" -> "Z:\a\b": the Unix root is drive Z in every Wine prefix.
std::string DosPathOfUnixPath(std::string unixPath);

}  // namespace korvo::win32test
