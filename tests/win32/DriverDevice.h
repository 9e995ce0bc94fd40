#pragma once

// The KORVO device of korvo-driver (tools/windows/korvo-driver), the test
// driver loaded by the system (Wine's winedevice under Wine): found through
// SetupAPI under the USB device interface class and opened by its interface
// path, as a real device is. The tests set its behaviour and read what it
// received through its control device.

#include <string>

#include "KorvoDriverControl.h"

namespace korvo::win32test {

// What the device's description is, from its INF.
inline constexpr const char* kDriverDeviceName = "KORVO Test Device";

// Installs the driver and its root-enumerated device unless they run
// already. "" when the device is ready; else what failed, for the skip
// message.
std::string InstallDriverDevice();

// A device present, answering status 0, taking everything: the settings a
// test starts from.
KorvoDeviceSettings PresentDevice();

// The control side of the device of unit 0, or 1 (which stays unplugged
// until configured present). Unplugs the device when destroyed.
class DriverDevice {
 public:
  explicit DriverDevice(int unit = 0);
  ~DriverDevice();
  DriverDevice(const DriverDevice&) = delete;
  DriverDevice& operator=(const DriverDevice&) = delete;

  bool Ready() const;
  // Replaces the settings; forgets what was received.
  bool Configure(const KorvoDeviceSettings& settings);
  // Every byte received since the last Configure.
  std::string Received() const;
  KorvoDeviceCounters Counters() const;
  // Ends the write the device holds with `ntStatus`.
  bool ReleaseHeldWrite(long ntStatus);
  // The interface path SetupAPI gives for the unit's device; "" while unplugged.
  static std::string InterfacePath(int unit = 0);

 private:
  void* control_;
};

}  // namespace korvo::win32test
