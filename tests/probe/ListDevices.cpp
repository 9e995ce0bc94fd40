// Prints the device list and the automatic choice as the tool builds them,
// so that end-to-end tests can see what discovery made of the devices present.
// One line per entry: "<index>\t<devicePath>\t<description>", then
// "choice\t<index>" or "choice\tnone".
#include <cstdio>
#include <optional>

#include "discovery/ChooseDevice.h"
#include "discovery/DeviceList.h"
#include "platform/Framework.h"

int main() {
  if (!korvo::InitFramework()) return 1;
  korvo::DeviceList devices(korvo::GUID_DEVINTERFACE_USB_DEVICE);
  int count = devices.Enumerate();
  for (int i = 0; i < count; ++i) {
    const korvo::DeviceEntry& entry = devices.GetAt(i);
    std::printf("%d\t%s\t%s\n", i, entry.devicePath.c_str(), entry.description.c_str());
  }
  if (count == 0) return 0;
  std::optional<int> choice = korvo::ChooseDevice(devices);
  if (choice) {
    std::printf("choice\t%d\n", *choice);
  } else {
    std::printf("choice\tnone\n");
  }
  return 0;
}
