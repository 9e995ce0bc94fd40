// Waits for plugs and unplugs through the real Linux layer's monitor and
// says what each wait ended with: "added", "removed", "timed-out",
// "stopped" or "failed"; COUNT changes, or until SECONDS are over. Run under
// korvo-emu by the end-to-end tests.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "discovery/DeviceList.h"
#include "platform/DeviceMonitor.h"
#include "platform/Framework.h"

int main(int argc, char* argv[]) {
  if (argc != 3 || !korvo::InitFramework()) return 2;
  korvo::DeviceMonitor* monitor = korvo::StartDeviceMonitor(korvo::GUID_DEVINTERFACE_USB_DEVICE);
  if (!monitor) return 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
  const char* names[] = {"added", "removed", "timed-out", "stopped", "failed"};
  for (int changes = 0; changes < std::atoi(argv[1]); ++changes) {
    korvo::DeviceChange change = korvo::WaitForDeviceChange(monitor, deadline);
    std::printf("%s\n", names[static_cast<int>(change)]);
    if (change != korvo::DeviceChange::Added && change != korvo::DeviceChange::Removed) break;
  }
  korvo::StopDeviceMonitor(monitor);
  return 0;
}
